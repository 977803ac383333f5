#include "engine/chromium_browser.h"

#include "engine/chromium_locator.h"
#include "engine/chromium_process.h"
#include "engine/devtools_connection.h"
#include "engine/navigation_error.h"
#include "engine/renderer_watch.h"

#include <QJsonArray>
#include <algorithm>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QTimer>

Q_LOGGING_CATEGORY(lcChromium, "velmora.chromium", QtWarningMsg)

namespace engine {

namespace {

using Callback = std::function<void(const QJsonObject &, const CallError &)>;

const QString bindingName = QStringLiteral("__velmoraLinks");
const QString harvestWorld = QStringLiteral("velmora-harvest");
const QString evaluateWorld = QStringLiteral("velmora-evaluate");
constexpr int harvestPartSize = 512 * 1024;

// How long a tab being left gets to start for about:blank, and then to load
// it, before it is closed as it is: far more than a healthy page needs even
// on a loaded machine, where closing too early is what crashes Chromium.
constexpr int leaveStartMs = 5000;
constexpr int leaveLoadMs = 20000;
// A tab still there this long after it was asked to close is asked again.
constexpr int closeCheckMs = 1000;
constexpr int closeAttempts = 5;
// How long a starting Chromium may take to answer.
constexpr int launchTimeoutMs = 30000;
// The longest a finished page waits for the next one before it is left.
constexpr int parkMs = 5000;

// Harmless stand-ins rather than null: with null, the page's alert() throws
// and the rest of that script block (often the one writing links) never runs.
// prompt answers as a dismissed prompt would. It must not reach Chromium as a
// real dialog: Chromium keeps one pending dialog per tab, so two frames in
// different processes asking at once leave one unanswerable and the page
// never finishes loading.
// Each assignment on its own, so one refusal does not stop the others.
const QString dialogScript = QStringLiteral(
    "(function () {"
    "try { window.alert = function () {}; } catch (e) {}"
    "try { window.confirm = function () { return false; }; } catch (e) {}"
    "try { window.prompt = function () { return null; }; } catch (e) {}"
    "try { window.showModalDialog = function () { return undefined; }; } catch (e) {}"
    "})();");

// The anchors are the HTML a elements, by namespace and local name:
// getElementsByTagName('A') finds none in an XHTML document (XML names are
// case-sensitive) and, in an HTML one, also foreign elements named A, whose
// href is no address.
const QString anchorsExpression =
    QStringLiteral("document.getElementsByTagNameNS('http://www.w3.org/1999/xhtml', 'a')");

const QString harvestExpression =
    QStringLiteral("({url: document.URL,"
                   " links: Array.from(%1, function (a) { return String(a.href); })})")
        .arg(anchorsExpression);

// Runs in an isolated world, so the page cannot break Array.from or String.
// pageshow fires in the load task right after every load listener: anchors
// those listeners add are included, and we skip the wait behind the first
// layout that an evaluate sent after the load event would sit through.
// One indexed loop reads and splits: at 100,000 links it is about 60 ms
// quicker than Array.from with a callback and a second pass.
// The links go in parts of about 512 K UTF-16 units: each part is parsed in its
// own turn of the window's event loop, and no message grows with the page.
// Events cross worlds, so a page can dispatch pageshow itself: only the one the
// browser sends counts, once per document (not again when it comes back from
// the back/forward cache). Capturing and added before any page script, so no
// listener of the page's runs first to stop it, in whatever order a browser
// calls the listeners of the event's target.
QString harvestScript()
{
    return QStringLiteral("(function () {"
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
}

QJsonObject autoAttachParams()
{
    // Frames and workers start paused, so their set-up happens before any of
    // their script; each is released with Runtime.runIfWaitingForDebugger.
    return {{QStringLiteral("autoAttach"), true},
            {QStringLiteral("waitForDebuggerOnStart"), true},
            {QStringLiteral("flatten"), true}};
}

} // namespace

ChromiumBrowser::ChromiumBrowser(QObject *parent) : ChromiumBrowser(ChromiumOptions{}, parent) {}

ChromiumBrowser::ChromiumBrowser(const ChromiumOptions &options, QObject *parent)
    : Browser(parent), m_options(options)
{
}

ChromiumBrowser::~ChromiumBrowser()
{
    if (m_connection && m_connection->isOpen())
        m_connection->call(QStringLiteral("Browser.close"));
    delete m_connection;
    m_connection = nullptr;
    if (m_process) {
        m_process->disconnect(this);
        // Browser.close ends it in about 150 ms; closing the pipe does too.
        m_process->stop(1000);
    }
}

qint64 ChromiumBrowser::processId() const
{
    return m_process ? m_process->processId() : 0;
}

QString ChromiumBrowser::profilePath() const
{
    return m_process ? m_process->profilePath() : QString();
}

int ChromiumBrowser::call(const QString &method, const QJsonObject &params, const QString &sessionId,
                          Callback callback, int timeoutMs)
{
    if (!m_connection)
        return -1;
    return m_connection->call(method, params, sessionId, std::move(callback), timeoutMs);
}

void ChromiumBrowser::start()
{
    if (m_state == State::Stopped)
        startChromium();
}

int ChromiumBrowser::callTimeout() const
{
    // A Chromium still starting on a busy machine is slow, not hung.
    return m_state == State::Launching ? std::max(m_options.callTimeoutMs, launchTimeoutMs) : m_options.callTimeoutMs;
}

void ChromiumBrowser::navigate(const QString &url)
{
    switch (m_state) {
    case State::Stopped:
        m_queuedUrl = url;
        startChromium();
        break;
    case State::Launching:
        m_queuedUrl = url;
        break;
    case State::Ready:
        beginNavigation(url);
        break;
    }
}

void ChromiumBrowser::startChromium()
{
    LocatorInput input = LocatorInput::systemInputs();
    if (!m_options.executable.isEmpty())
        input.override = m_options.executable;
    const LocatorResult found = locateChromium(input);
    if (found.executable.isEmpty()) {
        m_queuedUrl.clear();
        emit engineError(found.problem);
        return;
    }

    auto process = std::make_unique<ChromiumProcess>();
    QString error;
    if (!process->start(found.executable, &error)) {
        m_queuedUrl.clear();
        emit engineError(error);
        return;
    }
    m_process = std::move(process);
    m_state = State::Launching;
    const int launch = ++m_launch;

    m_connection = new DevToolsConnection(m_process->transport(), this);
    connect(m_connection, &DevToolsConnection::eventReceived, this, &ChromiumBrowser::onEvent);
    connect(m_connection, &DevToolsConnection::malformedMessage, this, [](const QString &what) {
        qCWarning(lcChromium) << "ignored a malformed DevTools message:" << what;
    });
    connect(m_connection, &DevToolsConnection::closed, this, [this] {
        onEngineLost(QStringLiteral("与 Chromium 的连接中断"));
    });
    connect(m_process.get(), &ChromiumProcess::exited, this, &ChromiumBrowser::onEngineLost);
    // Chromium leads its own process group, renderers included.
    m_watch = new RendererWatch(m_process->processId(), m_options.rendererMemoryLimit, this);
    connect(m_watch, &RendererWatch::exceeded, this, &ChromiumBrowser::stopRunawayPage);

    const int timeout = callTimeout();
    // Downloads are denied: an address that is a file never lands on disk.
    call(QStringLiteral("Browser.setDownloadBehavior"), {{QStringLiteral("behavior"), QStringLiteral("deny")}},
         {}, {}, timeout);
    // Discovery lets us see popups the pages open, and close them.
    call(QStringLiteral("Target.setDiscoverTargets"), {{QStringLiteral("discover"), true}}, {}, {}, timeout);
    call(QStringLiteral("Target.getTargets"), {}, {},
         [this, launch](const QJsonObject &result, const CallError &error) {
             if (launch != m_launch || error.kind == CallError::Closed)
                 return; // a lost connection is reported on its own
             if (error.kind == CallError::Timeout)
                 return onHang(error);
             if (error.isError())
                 return failEngine(error.message);
             const QJsonArray targets = result.value(QLatin1String("targetInfos")).toArray();
             for (const auto &target : targets) {
                 const QJsonObject info = target.toObject();
                 if (info.value(QLatin1String("type")).toString() == QLatin1String("page")) {
                     // The about:blank tab we started with becomes the first spare.
                     prepareTab(info.value(QLatin1String("targetId")).toString(), 0, {});
                     return;
                 }
             }
             failEngine(QStringLiteral("Chromium 没有打开任何标签页"));
         },
         timeout);
}

void ChromiumBrowser::teardown()
{
    m_state = State::Stopped;
    ++m_launch;
    m_current.reset();
    m_spare.reset();
    m_parked.reset();
    m_preparingSpare = false;
    m_urlForSpare.clear();
    m_childSessions.clear();
    m_retiring.clear();
    m_closing.clear();
    m_queuedUrl.clear();
    if (m_watch) {
        m_watch->disconnect(this);
        m_watch->stop();
        m_watch->deleteLater();
        m_watch = nullptr;
    }
    if (m_connection) {
        m_connection->disconnect(this);
        m_connection->close();
        m_connection->deleteLater();
        m_connection = nullptr;
    }
    if (m_process) {
        m_process->disconnect(this);
        m_process->stop(0);
        // We may be inside one of its signals.
        m_process.release()->deleteLater();
    }
}

void ChromiumBrowser::onEngineLost(const QString &lost)
{
    QString cause = lost;
    if (m_state == State::Stopped)
        return;
    const bool starting = m_state == State::Launching;
    // The pipe often closes just before the process is gone: let it finish
    // so its last words are in the message.
    if (starting && m_process) {
        m_process->disconnect(this); // its exited() must not report a second time
        m_process->awaitExit(1000);
        const QString exit = m_process->exitDescription();
        if (!exit.isEmpty())
            cause = exit;
    }
    const QString tail = m_process ? m_process->stderrTail() : QString();
    teardown();
    if (starting) {
        QString reason = QStringLiteral("Chromium 启动失败（%1），本次提取未能进行；下次提取时会再次尝试启动。").arg(cause);
        if (!tail.isEmpty())
            reason += QStringLiteral("\nChromium 的最后输出：\n") + tail;
        emit engineError(reason);
    } else {
        emit engineError(QStringLiteral("Chromium 意外退出（%1），本次提取已中断；下次提取时会自动重新启动它。").arg(cause));
    }
}

void ChromiumBrowser::failEngine(const QString &cause)
{
    if (m_state == State::Stopped)
        return;
    teardown();
    emit engineError(QStringLiteral("Chromium 出现错误（%1），已将其关闭；下次提取时会自动重新启动它。").arg(cause));
}

void ChromiumBrowser::onHang(const CallError &error)
{
    if (m_state == State::Stopped)
        return;
    teardown();
    emit engineError(QStringLiteral("Chromium 长时间没有响应（%1），已将其强制结束并重新启动；请重新提取。")
                         .arg(error.message));
    startChromium();
}

void ChromiumBrowser::beginNavigation(const QString &url)
{
    const int generation = ++m_generation;
    const int launch = m_launch;
    const int timeout = m_options.callTimeoutMs;
    std::shared_ptr<Tab> previous = std::move(m_current);
    if (previous) {
        const QString session = previous->sessionId;
        m_childSessions.removeIf([&session](auto it) { return it.value() == session; });
    }

    // Page.navigate itself has no limit (a page may load for ever); this cheap
    // call tells a hung Chromium from a slow page.
    call(QStringLiteral("Browser.getVersion"), {}, {},
         [this, launch](const QJsonObject &, const CallError &error) {
             if (launch == m_launch && error.kind == CallError::Timeout)
                 onHang(error);
         },
         timeout);

    if (!m_spare && m_preparingSpare) {
        // Waiting for the tab already on its way beats opening a second one.
        if (previous)
            leaveTab(previous);
        m_urlForSpare = url;
        return;
    }
    m_urlForSpare.clear();
    if (m_spare) {
        if (previous)
            leaveTab(previous);
        std::shared_ptr<Tab> tab = std::move(m_spare);
        tab->generation = generation;
        navigateTab(tab, url);
        return;
    }

    // A fresh tab per extraction: a stalled load in the old one cannot hold up
    // this one, and memory stays flat (one reused tab grows by about 450 MB per
    // 100k-link visit). The old tab goes once the new one exists, so Chromium
    // is never left without a tab.
    call(QStringLiteral("Target.createTarget"), {{QStringLiteral("url"), QStringLiteral("about:blank")}}, {},
         [this, launch, generation, previous, url](const QJsonObject &result, const CallError &error) {
             if (launch != m_launch || error.kind == CallError::Closed)
                 return;
             if (previous)
                 leaveTab(previous);
             if (error.kind == CallError::Timeout)
                 return onHang(error);
             if (error.isError())
                 return failEngine(error.message);
             const QString targetId = result.value(QLatin1String("targetId")).toString();
             if (generation != m_generation)
                 return closeTarget(targetId);
             prepareTab(targetId, generation, url);
         },
         timeout);
}

void ChromiumBrowser::ensureSpare()
{
    // Opening and setting up a tab costs a few hundred milliseconds; do it
    // while the user looks at the list, not after the next Enter.
    if (m_state != State::Ready || m_spare || m_preparingSpare)
        return;
    m_preparingSpare = true;
    const int launch = m_launch;
    call(QStringLiteral("Target.createTarget"), {{QStringLiteral("url"), QStringLiteral("about:blank")}}, {},
         [this, launch](const QJsonObject &result, const CallError &error) {
             if (launch != m_launch)
                 return;
             if (error.isError()) {
                 m_preparingSpare = false;
                 // The next navigate opens its own tab; one already waiting does so now.
                 if (!m_urlForSpare.isEmpty())
                     beginNavigation(std::exchange(m_urlForSpare, QString()));
                 return;
             }
             prepareTab(result.value(QLatin1String("targetId")).toString(), 0, {});
         },
         m_options.callTimeoutMs);
}

void ChromiumBrowser::leaveTab(const std::shared_ptr<Tab> &tab)
{
    // Unloading a big page costs its renderer about as much as building it.
    // A page that has been read and sits still waits until the next one has
    // been read (or a few seconds), so the two do not fight over the
    // processor; one still loading or busy goes at once.
    if (m_parked)
        retireTab(std::exchange(m_parked, {}));
    if (!tab->settled)
        return retireTab(tab);
    m_parked = tab;
    // Its timers must not move it on, or use the processor, while it waits.
    stopScripts(tab->sessionId);
    QTimer::singleShot(parkMs, this, [this, parked = std::weak_ptr<Tab>(tab)] {
        if (const auto waiting = parked.lock(); waiting && waiting == m_parked)
            retireTab(std::exchange(m_parked, {}));
    });
}

void ChromiumBrowser::stopScripts(const QString &sessionId)
{
    call(QStringLiteral("Emulation.setScriptExecutionDisabled"), {{QStringLiteral("value"), true}}, sessionId, {},
         leaveStartMs);
}

void ChromiumBrowser::retireTab(const std::shared_ptr<Tab> &tab)
{
    // Closing a tab while a cross-site frame in it waits on a dialog crashes
    // Chromium (a frame calling a real prompt() in a loop did it every time). The
    // tab leaves its page for about:blank first, which takes the frames down
    // safely, and is closed once about:blank has loaded. A page that cannot
    // even start leaving is closed as it is.
    const int launch = m_launch;
    const QString session = tab->sessionId;
    m_retiring.insert(session, {tab->targetId, false});
    // A page that reloads itself on load would otherwise start again over
    // about:blank, and a page navigating while it is closed stays open.
    // A renderer that cannot answer this is spinning in a script: the
    // headless shell never takes such a page to about:blank, so it is
    // closed as it is.
    call(QStringLiteral("Emulation.setScriptExecutionDisabled"), {{QStringLiteral("value"), true}}, session,
         [this, launch, session](const QJsonObject &, const CallError &error) {
             if (launch == m_launch && error.kind == CallError::Timeout)
                 finishRetiring(session);
         },
         leaveStartMs);
    call(QStringLiteral("Page.navigate"), {{QStringLiteral("url"), QStringLiteral("about:blank")}}, session,
         [this, launch, session](const QJsonObject &, const CallError &error) {
             if (launch != m_launch)
                 return;
             const auto it = m_retiring.find(session);
             if (it == m_retiring.end())
                 return;
             if (error.isError())
                 return finishRetiring(session);
             // Load events from now on are about:blank's, not the old page's.
             it->leaving = true;
             QTimer::singleShot(leaveLoadMs, this, [this, launch, session] {
                 if (launch == m_launch)
                     finishRetiring(session);
             });
         },
         leaveStartMs);
}

void ChromiumBrowser::finishRetiring(const QString &sessionId)
{
    const auto it = m_retiring.constFind(sessionId);
    if (it == m_retiring.cend())
        return;
    const QString targetId = it->targetId;
    m_retiring.erase(it);
    closeTarget(targetId);
}

void ChromiumBrowser::closeTarget(const QString &targetId)
{
    const int attempts = ++m_closing[targetId];
    call(QStringLiteral("Target.closeTarget"), {{QStringLiteral("targetId"), targetId}}, {}, {},
         m_options.callTimeoutMs);
    const int launch = m_launch;
    QTimer::singleShot(closeCheckMs, this, [this, launch, targetId, attempts] {
        if (launch != m_launch || m_closing.value(targetId) != attempts)
            return;
        if (attempts >= closeAttempts) {
            qCWarning(lcChromium) << "tab" << targetId << "would not close";
            m_closing.remove(targetId);
            return;
        }
        closeTarget(targetId);
    });
}

void ChromiumBrowser::prepareTab(const QString &targetId, int generation, const QString &url)
{
    const int launch = m_launch;
    const int timeout = callTimeout();
    call(QStringLiteral("Target.attachToTarget"),
         {{QStringLiteral("targetId"), targetId}, {QStringLiteral("flatten"), true}}, {},
         [this, launch, generation, targetId, url, timeout](const QJsonObject &result, const CallError &error) {
             if (launch != m_launch || error.kind == CallError::Closed)
                 return;
             if (error.kind == CallError::Timeout)
                 return onHang(error);
             if (error.isError())
                 return failEngine(error.message);

             auto tab = std::make_shared<Tab>();
             tab->targetId = targetId;
             tab->sessionId = result.value(QLatin1String("sessionId")).toString();
             tab->generation = generation;
             const bool wantBinding = m_options.harvestPath == HarvestPath::Binding;

             struct Progress
             {
                 int remaining = 0;
                 bool bindingOk = true;
                 CallError error;
             };
             auto progress = std::make_shared<Progress>();
             auto finished = [this, launch, tab, progress, wantBinding, url] {
                 if (launch != m_launch || progress->error.kind == CallError::Closed)
                     return;
                 if (progress->error.kind == CallError::Timeout)
                     return onHang(progress->error);
                 if (progress->error.isError())
                     return failEngine(progress->error.message);
                 tab->useBinding = wantBinding && progress->bindingOk;
                 if (tab->generation == 0) {
                     m_preparingSpare = false;
                     if (!m_urlForSpare.isEmpty()) {
                         // A navigate came while this tab was being set up.
                         tab->generation = m_generation;
                         return navigateTab(tab, std::exchange(m_urlForSpare, QString()));
                     }
                     m_spare = tab;
                     if (m_state == State::Launching) {
                         m_state = State::Ready;
                         emit ready();
                         if (m_state == State::Ready && !m_queuedUrl.isEmpty())
                             beginNavigation(std::exchange(m_queuedUrl, QString()));
                     }
                     return;
                 }
                 if (tab->generation != m_generation)
                     return closeTarget(tab->targetId);
                 navigateTab(tab, url);
             };
             auto step = [progress, finished](bool forBinding) -> Callback {
                 ++progress->remaining;
                 return [progress, finished, forBinding](const QJsonObject &, const CallError &error) {
                     if (error.isError()) {
                         // Without the binding the evaluate path still works.
                         if (forBinding && error.kind == CallError::Protocol)
                             progress->bindingOk = false;
                         else if (!progress->error.isError())
                             progress->error = error;
                     }
                     if (--progress->remaining == 0)
                         finished();
                 };
             };

             // Sent together, answered in order; navigation waits for all, so
             // every script is in place before the page's first byte runs.
             const QString session = tab->sessionId;
             call(QStringLiteral("Page.enable"), {}, session, step(false), timeout);
             call(QStringLiteral("Page.addScriptToEvaluateOnNewDocument"),
                  {{QStringLiteral("source"), dialogScript}}, session, step(false), timeout);
             if (wantBinding) {
                 // Bindings only appear while Runtime is enabled.
                 call(QStringLiteral("Runtime.enable"), {}, session, step(true), timeout);
                 call(QStringLiteral("Runtime.addBinding"),
                      {{QStringLiteral("name"), bindingName}, {QStringLiteral("executionContextName"), harvestWorld}},
                      session, step(true), timeout);
                 call(QStringLiteral("Page.addScriptToEvaluateOnNewDocument"),
                      {{QStringLiteral("source"), harvestScript()}, {QStringLiteral("worldName"), harvestWorld}},
                      session, step(true), timeout);
             }
             call(QStringLiteral("Target.setAutoAttach"), autoAttachParams(), session, step(false), timeout);
         },
         timeout);
}

void ChromiumBrowser::navigateTab(const std::shared_ptr<Tab> &tab, const QString &url)
{
    m_current = tab;
    tab->url = url;
    m_watch->watch();
    const int launch = m_launch;
    call(QStringLiteral("Page.navigate"), {{QStringLiteral("url"), url}}, tab->sessionId,
         [this, launch, tab, url](const QJsonObject &result, const CallError &error) {
             if (launch != m_launch || tab != m_current)
                 return;
             if (error.kind == CallError::Protocol) {
                 tab->failed = true;
                 emit navigateError(url, QStringLiteral("无法打开网页 %1：Chromium 不接受这个地址（%2）。")
                                             .arg(url, error.message));
                 return;
             }
             if (error.isError())
                 return; // the engine is gone; that is reported on its own
             const QString errorText = result.value(QLatin1String("errorText")).toString();
             if (errorText.isEmpty()) {
                 tab->committed = true;
                 return;
             }
             // Whatever loads now is Chromium's error page: never harvest it.
             tab->failed = true;
             ensureSpare();
             if (result.value(QLatin1String("isDownload")).toBool())
                 emit navigateError(url, downloadReason(url));
             else
                 emit navigateError(url, navigationErrorReason(url, errorText));
         },
         DevToolsConnection::noTimeout);
}

std::shared_ptr<ChromiumBrowser::Tab> ChromiumBrowser::tabOfSession(const QString &sessionId) const
{
    if (!m_current || sessionId.isEmpty())
        return {};
    if (sessionId == m_current->sessionId || m_childSessions.value(sessionId) == m_current->sessionId)
        return m_current;
    return {};
}

void ChromiumBrowser::onEvent(const QString &sessionId, const QString &method, const QJsonObject &params)
{
    const int timeout = m_options.callTimeoutMs;
    if (method == QLatin1String("Page.javascriptDialogOpening")) {
        // An unanswered dialog freezes the renderer and every later call on
        // it. Leaving a page is allowed, so a beforeunload never holds a tab.
        const bool accept = params.value(QLatin1String("type")).toString() == QLatin1String("beforeunload");
        call(QStringLiteral("Page.handleJavaScriptDialog"), {{QStringLiteral("accept"), accept}}, sessionId, {},
             timeout);
        return;
    }
    // A page left waiting that starts loading again is no longer still.
    if (method == QLatin1String("Page.frameStartedLoading") && m_parked && sessionId == m_parked->sessionId)
        return retireTab(std::exchange(m_parked, {}));
    if (method == QLatin1String("Page.loadEventFired") && m_retiring.value(sessionId).leaving)
        return finishRetiring(sessionId);
    if (method == QLatin1String("Target.attachedToTarget"))
        return onAttached(sessionId, params);
    if (method == QLatin1String("Target.detachedFromTarget")) {
        const QString child = params.value(QLatin1String("sessionId")).toString();
        m_childSessions.remove(child);
        if (m_connection)
            m_connection->abandonSession(child);
        return;
    }
    if (method == QLatin1String("Target.targetDestroyed")) {
        m_closing.remove(params.value(QLatin1String("targetId")).toString());
        return;
    }
    if (method == QLatin1String("Target.targetCreated")) {
        const QJsonObject info = params.value(QLatin1String("targetInfo")).toObject();
        // Popups opened by a page: nobody will ever look at them.
        if (info.value(QLatin1String("type")).toString() == QLatin1String("page")
            && !info.value(QLatin1String("openerId")).toString().isEmpty())
            closeTarget(info.value(QLatin1String("targetId")).toString());
        return;
    }

    const std::shared_ptr<Tab> tab = tabOfSession(sessionId);
    if (!tab)
        return;
    const bool onPage = sessionId == tab->sessionId;
    if (method == QLatin1String("Page.frameNavigated")) {
        const QJsonObject frame = params.value(QLatin1String("frame")).toObject();
        const QString id = frame.value(QLatin1String("id")).toString();
        if (onPage && !frame.contains(QLatin1String("parentId"))) {
            tab->topFrameId = id;
            tab->loadEnded = false;
            if (!tab->useBinding) {
                makeEvaluateWorld(tab);
            } else {
                // A world made for the last document is gone with it.
                ++tab->documents;
                tab->evaluateContext = 0;
                tab->worldPending = false;
                tab->loadWaiting = false;
            }
        } else
            tab->childFrames.insert(id, frame.value(QLatin1String("url")).toString());
    } else if (method == QLatin1String("Page.frameStartedLoading")) {
        if (onPage && params.value(QLatin1String("frameId")).toString() == tab->topFrameId)
            tab->settled = false; // moving on by itself
    } else if (method == QLatin1String("Page.frameStoppedLoading")) {
        if (onPage && params.value(QLatin1String("frameId")).toString() == tab->topFrameId) {
            // A page that stops itself (window.stop()) never fires its load
            // event: what it holds is read as if it had.
            // It may stop before Page.navigate has answered; the harvest is
            // checked against that answer when it comes back.
            if (!tab->failed && !std::exchange(tab->loadEnded, true))
                harvestByEvaluate(tab);
            return;
        }
        const auto frame = tab->childFrames.constFind(params.value(QLatin1String("frameId")).toString());
        if (frame != tab->childFrames.cend() && tab->committed && !tab->failed)
            emit documentComplete(false, *frame, {});
    } else if (method == QLatin1String("Page.loadEventFired")) {
        if (onPage)
            tab->loadEnded = true;
        if (onPage && !tab->useBinding && !tab->failed)
            harvestByEvaluate(tab);
    } else if (method == QLatin1String("Runtime.bindingCalled")) {
        if (onPage && tab->useBinding && params.value(QLatin1String("name")).toString() == bindingName)
            onBindingCalled(tab, params);
    } else if (method == QLatin1String("Inspector.targetCrashed")) {
        if (onPage && !tab->failed) {
            tab->failed = true;
            emit navigateError(tab->url, QStringLiteral("网页 %1 的渲染进程崩溃了，未能读取其中的链接。").arg(tab->url));
        }
    }
}

void ChromiumBrowser::onAttached(const QString &parentSession, const QJsonObject &params)
{
    const QString child = params.value(QLatin1String("sessionId")).toString();
    const QJsonObject info = params.value(QLatin1String("targetInfo")).toObject();
    const bool waiting = params.value(QLatin1String("waitingForDebugger")).toBool();
    const int timeout = m_options.callTimeoutMs;
    // Events of nested frames count for the tab at the root of the chain.
    m_childSessions.insert(child, m_childSessions.value(parentSession, parentSession));

    auto release = [this, child, waiting, timeout] {
        // A target left waiting never runs, and a waiting cross-site frame
        // holds its parent's load event for ever.
        if (waiting)
            call(QStringLiteral("Runtime.runIfWaitingForDebugger"), {}, child, {}, timeout);
    };
    if (info.value(QLatin1String("type")).toString() != QLatin1String("iframe"))
        return release();

    // A cross-site frame runs in its own process: it needs its own dialog
    // script and its own auto-attach for frames nested in it.
    const int launch = m_launch;
    auto remaining = std::make_shared<int>(3);
    Callback done = [this, launch, remaining, release](const QJsonObject &, const CallError &) {
        if (launch == m_launch && --*remaining == 0)
            release();
    };
    call(QStringLiteral("Page.enable"), {}, child, done, timeout);
    call(QStringLiteral("Page.addScriptToEvaluateOnNewDocument"), {{QStringLiteral("source"), dialogScript}}, child,
         done, timeout);
    call(QStringLiteral("Target.setAutoAttach"), autoAttachParams(), child, done, timeout);
}

void ChromiumBrowser::onBindingCalled(const std::shared_ptr<Tab> &tab, const QJsonObject &params)
{
    const QByteArray payload = params.value(QLatin1String("payload")).toString().toUtf8();
    QJsonParseError parseError;
    const QJsonObject report = QJsonDocument::fromJson(payload, &parseError).object();
    const int part = report.value(QLatin1String("part")).toInt(-1);
    const int parts = report.value(QLatin1String("parts")).toInt(0);
    const QString url = report.value(QLatin1String("url")).toString();
    HarvestParts &pending = tab->harvest;
    if (part == 0)
        pending = HarvestParts{parts, 0, url, {}};
    // Parts come in order, all of one document; anything else is not ours.
    if (part < 0 || part != pending.next || parts != pending.parts || url != pending.url) {
        qCWarning(lcChromium) << "unreadable harvest report:" << parseError.errorString() << part << parts;
        pending = {};
        return;
    }
    const QJsonArray links = report.value(QLatin1String("links")).toArray();
    pending.links.reserve(pending.links.size() + links.size());
    for (const auto &link : links)
        pending.links.append(link.toString());
    if (++pending.next < parts)
        return;
    HarvestParts done = std::exchange(pending, {});
    reportHarvest(tab, done.url, done.links);
}

void ChromiumBrowser::makeEvaluateWorld(const std::shared_ptr<Tab> &tab)
{
    const int launch = m_launch;
    const int document = ++tab->documents;
    tab->evaluateContext = 0;
    tab->worldPending = true;
    tab->loadWaiting = false;
    call(QStringLiteral("Page.createIsolatedWorld"),
         {{QStringLiteral("frameId"), tab->topFrameId}, {QStringLiteral("worldName"), evaluateWorld}}, tab->sessionId,
         [this, launch, tab, document](const QJsonObject &result, const CallError &error) {
             if (launch != m_launch || tab != m_current || document != tab->documents)
                 return;
             tab->worldPending = false;
             if (!error.isError())
                 tab->evaluateContext = result.value(QLatin1String("executionContextId")).toInt();
             if (!std::exchange(tab->loadWaiting, false) || tab->failed)
                 return;
             if (error.kind == CallError::Timeout)
                 return reportBusy(tab);
             if (tab->evaluateContext != 0)
                 evaluateHarvest(tab, tab->evaluateContext);
             // Otherwise the document went away; its successor reports.
         },
         m_options.callTimeoutMs);
}

void ChromiumBrowser::harvestByEvaluate(const std::shared_ptr<Tab> &tab)
{
    if (tab->evaluateContext != 0)
        return evaluateHarvest(tab, tab->evaluateContext);
    // The document's commit went unseen: make its world now.
    if (!tab->worldPending)
        makeEvaluateWorld(tab);
    tab->loadWaiting = true;
}

void ChromiumBrowser::reportBusy(const std::shared_ptr<Tab> &tab)
{
    // A page that keeps its renderer busy answers nothing: give up on this
    // harvest with a message, the engine itself is fine.
    emit navigateError(tab->url, QStringLiteral("网页 %1 长时间没有响应，未能读取其中的链接。").arg(tab->url));
}

void ChromiumBrowser::stopRunawayPage(qint64 bytes)
{
    const std::shared_ptr<Tab> tab = m_current;
    if (!tab || tab->failed || tab->settled)
        return;
    tab->failed = true;
    // Closing the tab frees its renderers within a second, even one busy
    // parsing; leaving for about:blank would wait on that renderer.
    m_current.reset();
    const QString session = tab->sessionId;
    m_childSessions.removeIf([&session](auto it) { return it.value() == session; });
    closeTarget(tab->targetId);
    ensureSpare();
    qCInfo(lcChromium) << "stopped a page holding" << bytes << "bytes";
    emit navigateError(tab->url, QStringLiteral("网页 %1 占用的内存超过了上限（%2 GB），已停止并关闭该网页，"
                                                "以免拖慢整台电脑；未能读取其中的链接。")
                                     .arg(tab->url, QString::number(double(m_watch->limit()) / (1 << 30), 'f', 1)));
}

void ChromiumBrowser::evaluateHarvest(const std::shared_ptr<Tab> &tab, int contextId)
{
    const int launch = m_launch;
    const QJsonObject params{
        {QStringLiteral("expression"), harvestExpression},
        {QStringLiteral("contextId"), contextId},
        {QStringLiteral("returnByValue"), true},
    };
    call(QStringLiteral("Runtime.evaluate"), params, tab->sessionId,
         [this, launch, tab](const QJsonObject &result, const CallError &error) {
             if (launch != m_launch || tab != m_current)
                 return;
             if (error.kind == CallError::Timeout)
                 return reportBusy(tab);
             if (error.isError() || result.contains(QLatin1String("exceptionDetails")))
                 return; // the document went away; its successor reports
             const QJsonObject value =
                 result.value(QLatin1String("result")).toObject().value(QLatin1String("value")).toObject();
             const QJsonArray array = value.value(QLatin1String("links")).toArray();
             QStringList links;
             links.reserve(array.size());
             for (const auto &link : array)
                 links.append(link.toString());
             reportHarvest(tab, value.value(QLatin1String("url")).toString(), links);
         },
         m_options.callTimeoutMs);
}

void ChromiumBrowser::reportHarvest(const std::shared_ptr<Tab> &tab, const QString &url, const QStringList &links)
{
    // Chromium's own error page is never a harvest.
    if (!tab->committed || tab->failed || url.startsWith(QLatin1String("chrome-error:")))
        return;
    tab->settled = true;
    if (tab == m_current)
        m_watch->stop();
    emit documentComplete(true, url, links);
    if (m_parked && tab == m_current)
        retireTab(std::exchange(m_parked, {}));
    ensureSpare();
}

} // namespace engine
