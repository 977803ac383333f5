#include "engine/page_scripts.h"

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

const QString &harvestExpression()
{
    static const QString expression =
        QStringLiteral("({url: document.URL,"
                       " links: Array.from(%1, function (a) { return String(a.href); })})")
            .arg(anchorsExpression);
    return expression;
}

// Runs in an isolated world, so the page cannot break Array.from or String.
// pageshow fires in the load task right after every load listener: anchors
// those listeners add are included, and we skip the wait behind the first
// layout that an evaluate sent after the load event would sit through.
// One indexed loop reads and splits: at 100,000 links it is about 60 ms
// quicker than Array.from with a callback and a second pass.
// Events cross worlds, so a page can dispatch pageshow itself: only the one the
// browser sends counts, once per document (not again when it comes back from
// the back/forward cache). Capturing and added before any page script, so no
// listener of the page's runs first to stop it, in whatever order a browser
// calls the listeners of the event's target.
const QString &harvestScript()
{
    static const QString script =
        QStringLiteral("(function () {"
                       "if (window !== window.top) return;"
                       "var read = false;"
                       "window.addEventListener('pageshow', function (event) {"
                       "if (!event.isTrusted || read) return;"
                       "read = true;"
                       "var anchors = %4, count = anchors.length;"
                       "var parts = [], part = [], size = 0;"
                       "for (var i = 0; i < count; ++i) {"
                       "var href = String(anchors[i].href);"
                       "part.push(href); size += href.length + 8;"
                       "if (size >= %3) { parts.push(part); part = []; size = 0; }"
                       "}"
                       "if (part.length || !parts.length) parts.push(part);"
                       "for (var p = 0; p < parts.length; ++p)"
                       "window.%1(JSON.stringify({url: document.URL, part: p, parts: parts.length,"
                       " links: parts[p]}));"
                       "}, true);"
                       "})();")
            .arg(bindingName)
            .arg(harvestPartSize)
            .arg(anchorsExpression);
    return script;
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

QString settledHarvestExpression(int quietMs)
{
    return QStringLiteral("(function () {"
                          "var state = window.__velmoraAnchors;"
                          "var since = state ? performance.now() - state.changed : Infinity;"
                          "if (since < %1) return {wait: Math.ceil(%1 - since)};"
                          "return %2;"
                          "})()")
        .arg(QString::number(quietMs), harvestExpression());
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
