#include "engine/page_scripts.h"

#include "engine/browser.h"

namespace engine::scripts {

namespace {

// Each part of a harvest holds about this many UTF-16 units: each is parsed
// in its own turn of the window's event loop, and no message grows with the page.
constexpr int harvestPartSize = 512 * 1024;

// The anchors are the HTML a elements, by namespace and local name:
// getElementsByTagName('A') finds none in an XHTML document (XML names are
// case-sensitive) and, in an HTML one, also foreign elements named A, whose
// href is no address.
const QString anchorsExpression =
    QStringLiteral("document.getElementsByTagNameNS('http://www.w3.org/1999/xhtml', 'a')");

} // namespace

const QString bindingName = QStringLiteral("__velmoraLinks");
const QString harvestWorld = QStringLiteral("velmora-harvest");
const QString evaluateWorld = QStringLiteral("velmora-evaluate");

// Harmless stand-ins rather than null: with null, the page's alert() throws
// and the rest of that script block (often the one writing links) never runs.
// prompt answers as a dismissed prompt would. It must not reach Chromium as a
// real dialog: Chromium keeps one pending dialog per tab, so two frames in
// different processes asking at once leave one unanswerable and the page
// never finishes loading.
// Each assignment on its own, so one refusal does not stop the others.
const QString &dialogScript()
{
    static const QString script =
        QStringLiteral("(function () {"
                       "try { window.alert = function () {}; } catch (e) {}"
                       "try { window.confirm = function () { return false; }; } catch (e) {}"
                       "try { window.prompt = function () { return null; }; } catch (e) {}"
                       "try { window.showModalDialog = function () { return undefined; }; } catch (e) {}"
                       "})();");
    return script;
}

namespace {

// The plain read, split into parts: evaluates to {parts: n, part(p)}, where
// part(p) is part p's report as a JSON string. Links are taken until their
// text passes maxUnits, counted as the engine counts them (linkUnits): the
// engine cuts there itself, this only spares sending what it would drop.
// One indexed loop reads and splits: at 100,000 links it is about 60 ms
// quicker than Array.from with a callback and a second pass.
QString plainWalk(qint64 maxUnits)
{
    return QStringLiteral("(function () {"
                          "var anchors = %1, count = anchors.length, parts = [], part = [], size = 0, total = 0;"
                          "for (var i = 0; i < count && total <= %2; ++i) {"
                          "var href = String(anchors[i].href);"
                          "part.push(href); size += href.length + 8; total += href.length + %4;"
                          "if (size >= %3) { parts.push(part); part = []; size = 0; }"
                          "}"
                          "if (part.length || !parts.length) parts.push(part);"
                          "var url = document.URL, n = parts.length;"
                          "return {parts: n, part: function (p) {"
                          "var links = parts[p]; parts[p] = null;"
                          "return JSON.stringify({url: url, part: p, parts: n, links: links});"
                          "}};"
                          "})()")
        .arg(anchorsExpression)
        .arg(maxUnits)
        .arg(harvestPartSize)
        .arg(linkOverheadUnits);
}

} // namespace

QString harvestExpression(qint64 maxUnits)
{
    return QStringLiteral("(window.__velmoraPlain = %1).part(0)").arg(plainWalk(maxUnits));
}

QString plainPartExpression(int part)
{
    return QStringLiteral("window.__velmoraPlain.part(%1)").arg(part);
}

// Runs in an isolated world, so the page cannot break Array.from or String.
// pageshow fires in the load task right after every load listener: anchors
// those listeners add are included, and we skip the wait behind the first
// layout that an evaluate sent after the load event would sit through.
// Events cross worlds, so a page can dispatch pageshow itself: only the one the
// browser sends counts, once per document (not again when it comes back from
// the back/forward cache). Capturing and added before any page script, so no
// listener of the page's runs first to stop it, in whatever order a browser
// calls the listeners of the event's target.
QString harvestScript(qint64 maxUnits)
{
    return QStringLiteral("(function () {"
                          "if (window !== window.top) return;"
                          "var read = false;"
                          "window.addEventListener('pageshow', function (event) {"
                          "if (!event.isTrusted || read) return;"
                          "read = true;"
                          "var walked = %2;"
                          "for (var p = 0; p < walked.parts; ++p) window.%1(walked.part(p));"
                          "}, true);"
                          "})();")
        .arg(bindingName, plainWalk(maxUnits));
}

// Only changes that add, remove or re-aim an anchor count: a page whose
// clock or ticker keeps redrawing has still settled. The observer lives in an
// isolated world, where the page can neither see nor stop it, and ends at the
// bound, after which nobody asks.
QString anchorsWatchScript(int boundMs)
{
    return QStringLiteral("(function () {"
                          "if (window.__velmoraAnchors) return;"
                          "var state = window.__velmoraAnchors = {changed: -Infinity};"
                          "var ns = 'http://www.w3.org/1999/xhtml';"
                          "function holdsAnchor(node) {"
                          "return node.nodeType === 1 && ((node.localName === 'a' && node.namespaceURI === ns)"
                          " || node.getElementsByTagNameNS(ns, 'a').length > 0);"
                          "}"
                          "function touched(nodes) {"
                          "for (var i = 0; i < nodes.length; ++i) if (holdsAnchor(nodes[i])) return true;"
                          "return false;"
                          "}"
                          "var observer = new MutationObserver(function (records) {"
                          "for (var i = 0; i < records.length; ++i) {"
                          "var r = records[i];"
                          "if (r.type === 'attributes' || touched(r.addedNodes) || touched(r.removedNodes)) {"
                          "state.changed = performance.now(); return;"
                          "}"
                          "}"
                          "});"
                          "observer.observe(document, {childList: true, subtree: true, attributes: true,"
                          " attributeFilter: ['href']});"
                          "setTimeout(function () { observer.disconnect(); }, %1);"
                          "})();")
        .arg(boundMs);
}

QString settledHarvestExpression(int quietMs, qint64 maxUnits)
{
    return QStringLiteral("(function () {"
                          "var state = window.__velmoraAnchors;"
                          "var since = state ? performance.now() - state.changed : Infinity;"
                          "if (since < %1) return {wait: Math.ceil(%1 - since)};"
                          "return %2;"
                          "})()")
        .arg(QString::number(quietMs), harvestExpression(maxUnits));
}

namespace {

// The reader, defined once per world as window.__velmoraReader. Only the
// engine calls it; the page cannot reach an isolated world.
// Shadow-including tree order: a shadow root's elements come right after its
// host, before the host's own children. The walk keeps its own stack, so a
// page nesting shadow trees ten thousand deep costs no recursion. Closed
// roots are invisible here until the engine, through the DOM domain, hands
// them over (adopt); until then every element that may hold one (an HTML
// element of the names attachShadow accepts, or a custom element's) is
// queued to be asked about, at most maxHostsAsked per document.
// A link's text is read from at most 1,024 nodes and 4,096 units of its
// descendants: textContent on anchors nested ten thousand deep would build
// the page's text ten thousand times.
QString readerDefinition()
{
    return QStringLiteral(
               "(function () {"
               "if (window.__velmoraReader) return;"
               "var ns = 'http://www.w3.org/1999/xhtml';"
               "var hostNames = {article: 1, aside: 1, blockquote: 1, body: 1, div: 1, footer: 1, h1: 1, h2: 1,"
               " h3: 1, h4: 1, h5: 1, h6: 1, header: 1, main: 1, nav: 1, p: 1, section: 1, span: 1};"
               "var frameNames = {iframe: 1, frame: 1, object: 1, embed: 1};"
               "var closed = new WeakMap(), asked = new WeakSet(), queue = [], next = 0, last = null;"
               "function mayHost(el) {"
               "if (el.namespaceURI !== ns) return false;"
               "var n = el.localName, c = n.charCodeAt(0);"
               "return hostNames[n] === 1 || (n.indexOf('-') > 0 && c >= 97 && c <= 122);"
               "}"
               "function isSpace(c) { return c === 32 || c === 9 || c === 10 || c === 12 || c === 13; }"
               "function text(el) {"
               "var node = el.firstChild;"
               "if (node !== null && node.nextSibling === null && node.nodeType === 3) {"
               "var plain = node.data;"
               "if (plain.length <= %2 && !/[\\t\\n\\f\\r]|^ | $|  /.test(plain)) return plain;"
               "}"
               "var out = '', space = false, units = 4096, nodes = 1024;"
               "while (node !== null && nodes-- > 0 && units > 0 && out.length <= %2) {"
               "if (node.nodeType === 3 || node.nodeType === 4) {"
               "var d = node.data;"
               "if (d.length > units) d = d.slice(0, units);"
               "units -= d.length;"
               "for (var i = 0; i < d.length && out.length <= %2; ++i) {"
               "if (isSpace(d.charCodeAt(i))) { space = out.length > 0; continue; }"
               "if (space) { out += ' '; space = false; }"
               "out += d[i];"
               "}"
               "}"
               "if (node.firstChild !== null) { node = node.firstChild; continue; }"
               "while (node !== el && node.nextSibling === null) node = node.parentNode;"
               "node = node === el ? null : node.nextSibling;"
               "}"
               "if (out.length > %2) {"
               "out = out.slice(0, %2);"
               "var h = out.charCodeAt(%2 - 1);"
               "if (h >= 0xD800 && h <= 0xDBFF) out = out.slice(0, %2 - 1);"
               "}"
               "return out;"
               "}"
               "function each(list, flag, shadow, visit) {"
               "var stack = [[list, 0, list.length, flag]];"
               "while (stack.length > 0) {"
               "var top = stack[stack.length - 1];"
               "if (top[1] >= top[2]) { stack.pop(); continue; }"
               "var el = top[0][top[1]++];"
               "visit(el, top[3]);"
               "if (!shadow) continue;"
               "var root = el.shadowRoot || closed.get(el);"
               "if (root) { var inner = root.querySelectorAll('*'); stack.push([inner, 0, inner.length, 2]); }"
               "else if (queue.length < %3 && mayHost(el) && !asked.has(el)) { asked.add(el); queue.push(el); }"
               "}"
               "}"
               "function walk(scope, maxUnits) {"
               "var s = {url: document.URL, links: [], texts: scope.text ? [] : null, flags: [], owners: [], at: [],"
               " frames: scope.frames ? window.length : 0, index: null, units: 0};"
               "function add(el, flag) {"
               "if (s.units > maxUnits) return;"
               "if (flag !== 0) s.flags.push(s.links.length, flag);"
               "var href = String(el.href), t = s.texts !== null ? text(el) : '';"
               "s.links.push(href);"
               "if (s.texts !== null) s.texts.push(t);"
               "s.units += href.length + t.length + %4;"
               "}"
               "if (!scope.shadow && !scope.areas && s.frames === 0) {"
               "var anchors = document.getElementsByTagNameNS(ns, 'a');"
               "for (var i = 0, n = anchors.length; i < n; ++i) add(anchors[i], 0);"
               "} else {"
               "each(document.getElementsByTagName('*'), 0, scope.shadow, function (el, flag) {"
               "if (el.namespaceURI !== ns) return;"
               "var name = el.localName;"
               "if (name === 'a') add(el, flag);"
               "else if (name === 'area') { if (scope.areas && el.hasAttribute('href')) add(el, flag | 1); }"
               "else if (s.frames > 0 && frameNames[name] === 1) { s.at.push(s.links.length); s.owners.push(el); }"
               "});"
               "}"
               "s.cuts = [0];"
               "for (var k = 0, size = 0; k < s.links.length; ++k) {"
               "size += s.links[k].length + (s.texts !== null ? s.texts[k].length : 0) + 16;"
               "if (size >= %1 && k + 1 < s.links.length) { s.cuts.push(k + 1); size = 0; }"
               "}"
               "s.cuts.push(s.links.length);"
               "return last = s;"
               "}"
               "function part(p) {"
               "var s = last, from = s.cuts[p], to = s.cuts[p + 1], parts = s.cuts.length - 1, flags = [];"
               "for (var k = 0; k < s.flags.length; k += 2)"
               " if (s.flags[k] >= from && s.flags[k] < to) flags.push(s.flags[k], s.flags[k + 1]);"
               "var out = {url: s.url, part: p, parts: parts, links: s.links.slice(from, to), flags: flags};"
               "if (s.texts !== null) out.texts = s.texts.slice(from, to);"
               "if (p === 0) out.frames = s.frames;"
               "if (p === parts - 1) s.links = s.texts = null;"
               "return JSON.stringify(out);"
               "}"
               "window.__velmoraReader = {"
               "begin: function (scope, quietMs, maxUnits) {"
               "var watch = window.__velmoraAnchors;"
               "var since = watch ? performance.now() - watch.changed : Infinity;"
               "if (since < quietMs) return {wait: Math.ceil(quietMs - since)};"
               "var s = walk(scope, maxUnits);"
               "return {parts: s.cuts.length - 1, first: part(0)};"
               "},"
               "part: part,"
               "batch: function () {"
               "var hosts = [], units = 0;"
               "while (next < queue.length && hosts.length < 1000 && units < %1) {"
               "var el = queue[next++], attributes = el.attributes;"
               "for (var k = 0; k < attributes.length; ++k)"
               " units += attributes[k].name.length + attributes[k].value.length + 8;"
               "hosts.push(el);"
               "}"
               "return {more: next < queue.length, hosts: hosts};"
               "},"
               "adopt: function () {"
               "var fresh = 0;"
               "for (var i = 0; i < arguments.length; ++i) {"
               "var root = arguments[i];"
               "if (!(root instanceof ShadowRoot) || closed.get(root.host) === root) continue;"
               "closed.set(root.host, root); ++fresh;"
               "each(root.querySelectorAll('*'), 2, true, function () {});"
               "}"
               "return fresh;"
               "},"
               "place: function () {"
               "var s = last, out = [];"
               "if (s !== null && s.index === null) {"
               "s.index = new Map();"
               "for (var k = 0; k < s.owners.length; ++k) s.index.set(s.owners[k], k);"
               "}"
               "for (var i = 0; i < arguments.length; ++i) {"
               "var rank = s !== null ? s.index.get(arguments[i]) : undefined;"
               "out.push(rank === undefined ? -1 : [s.at[rank], rank]);"
               "}"
               "return out;"
               "}"
               "};"
               "})();")
        .arg(harvestPartSize)
        .arg(reader::maxTextUnits)
        .arg(reader::maxHostsAsked)
        .arg(linkOverheadUnits);
}

QString scopeLiteral(const LinkScope &scope)
{
    const auto flag = [](bool on) { return on ? QLatin1String("true") : QLatin1String("false"); };
    return QStringLiteral("{text: %1, shadow: %2, areas: %3, frames: %4}")
        .arg(flag(scope.text), flag(scope.shadowTrees), flag(scope.areas), flag(scope.frames));
}

} // namespace

// As harvestScript, read by the reader; the asks wait in the world for the
// engine's evaluate, which may come before or after the pageshow.
QString scopedHarvestScript(const LinkScope &scope, qint64 maxUnits)
{
    return QStringLiteral("(function () {"
                          "if (window !== window.top) return;"
                          "%1"
                          "var R = window.__velmoraReader, read = false, asks = null, waiting = [];"
                          "window.__velmoraAsks = function () {"
                          "return asks !== null ? asks : new Promise(function (resolve) { waiting.push(resolve); });"
                          "};"
                          "window.addEventListener('pageshow', function (event) {"
                          "if (!event.isTrusted || read) return;"
                          "read = true;"
                          "var walked = R.begin(%2, 0, %4);"
                          "window.%3(walked.first);"
                          "for (var p = 1; p < walked.parts; ++p) window.%3(R.part(p));"
                          "asks = R.batch();"
                          "for (var i = 0; i < waiting.length; ++i) waiting[i](asks);"
                          "waiting.length = 0;"
                          "}, true);"
                          "})();")
        .arg(readerDefinition(), scopeLiteral(scope), bindingName, QString::number(maxUnits));
}

QString asksExpression()
{
    return QStringLiteral("window.__velmoraAsks()");
}

QString scopedReadExpression(const LinkScope &scope, int quietMs, qint64 maxUnits)
{
    return readerDefinition()
        + QStringLiteral("window.__velmoraReader.begin(%1, %2, %3)")
              .arg(scopeLiteral(scope))
              .arg(quietMs)
              .arg(maxUnits);
}

QString scopedPartExpression(int part)
{
    return QStringLiteral("window.__velmoraReader.part(%1)").arg(part);
}

const QString &nextAsksExpression()
{
    static const QString expression = QStringLiteral("window.__velmoraReader.batch()");
    return expression;
}

const QString &adoptRootsFunction()
{
    static const QString function =
        QStringLiteral("function () { return window.__velmoraReader.adopt.apply(null, arguments); }");
    return function;
}

const QString &frameElementsFunction()
{
    static const QString function =
        QStringLiteral("function () { return window.__velmoraReader.place.apply(null, arguments); }");
    return function;
}

QJsonObject nodeSerialization()
{
    // Each node alone (its attributes, not its children), with its shadow
    // root as the DOM domain sees it: closed ones too.
    return {{QStringLiteral("serialization"), QStringLiteral("deep")},
            {QStringLiteral("additionalParameters"),
             QJsonObject{{QStringLiteral("maxNodeDepth"), 0},
                         {QStringLiteral("includeShadowTree"), QStringLiteral("all")}}}};
}

QJsonObject networkParams()
{
    // Chromium keeps bodies for Network.getResponseBody, by default up to
    // 100 MB a page; we never ask for one.
    return {{QStringLiteral("maxTotalBufferSize"), 0}, {QStringLiteral("maxResourceBufferSize"), 0}};
}

QJsonObject autoAttachParams()
{
    // Frames and workers start paused, so their set-up happens before any of
    // their script; each is released with Runtime.runIfWaitingForDebugger.
    return {{QStringLiteral("autoAttach"), true},
            {QStringLiteral("waitForDebuggerOnStart"), true},
            {QStringLiteral("flatten"), true}};
}

} // namespace engine::scripts
