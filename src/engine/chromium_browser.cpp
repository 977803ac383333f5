#include "engine/chromium_browser.h"

#include "engine/chromium_locator.h"
#include "engine/chromium_process.h"
#include "engine/devtools_connection.h"
#include "engine/proc_reader.h"
#include "engine/proxy_settings.h"
#include "engine/tab_pool.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QLoggingCategory>
#include <QThread>

#include <algorithm>

Q_LOGGING_CATEGORY(lcChromium, "velmora.chromium", QtWarningMsg)

namespace engine {

namespace {
// How long a Chromium that lost its pipe while starting gets to exit, so its
// last words are in the message.
constexpr int lastWordsMs = 1000;
} // namespace

ChromiumBrowser::ChromiumBrowser(QObject *parent) : ChromiumBrowser(ChromiumOptions{}, parent) {}

ChromiumBrowser::ChromiumBrowser(const ChromiumOptions &options, QObject *parent) : Browser(parent), m_options(options)
{
    m_lanes.append(Lane(this));
}

ChromiumBrowser::~ChromiumBrowser()
{
    if (m_connection && m_connection->isOpen())
        m_connection->call(QStringLiteral("Browser.close"));
    delete m_connection;
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

void ChromiumBrowser::start()
{
    if (m_state == State::Stopped)
        startChromium();
}

void ChromiumBrowser::navigate(const QString &url)
{
    navigateOn(0, url);
}

Browser *ChromiumBrowser::addLane()
{
    auto *lane = new ChromiumLane(this, m_lanes.size());
    m_lanes.append(Lane(lane));
    // A Chromium whose tabs are known gives the lane its own now; else the
    // lane gets them with the others.
    if (m_lanes.constFirst().pool)
        openLane(m_lanes.size() - 1, {});
    return lane;
}

int ChromiumBrowser::laneLimit(qint64 memoryLimit)
{
    const qint64 perPage = memoryLimit > 0 ? memoryLimit : defaultMemoryLimit();
    return laneLimitFor(proc::availableMemory().value_or(0), perPage, QThread::idealThreadCount());
}

void ChromiumBrowser::navigateOn(qsizetype lane, const QString &url)
{
    if (m_state != State::Ready || !m_lanes.at(lane).ready) {
        m_lanes[lane].queuedUrl = url;
        if (m_state == State::Stopped)
            startChromium();
        return;
    }
    // Page.navigate itself has no limit (a page may load for ever); this
    // cheap call tells a hung Chromium from a slow page.
    QPointer<DevToolsConnection> launch = m_connection;
    m_connection->call(QStringLiteral("Browser.getVersion"), {}, {},
                       [this, launch](const QJsonObject &, const CallError &error) {
                           if (launch && launch == m_connection && error.kind == CallError::Timeout)
                               onHang(error);
                       });
    m_lanes.at(lane).pool->navigate(url);
}

void ChromiumBrowser::setLinkScope(const LinkScope &scope)
{
    // One scope for every lane of the engine.
    m_linkScope = scope;
    for (const Lane &lane : std::as_const(m_lanes)) {
        if (lane.pool)
            lane.pool->setLinkScope(scope);
    }
}

void ChromiumBrowser::startChromium()
{
    LocatorInput input = LocatorInput::systemInputs();
    if (!m_options.executable.isEmpty())
        input.override = m_options.executable;
    const LocatorResult found = locateChromium(input);
    const auto unusable = [this](const QString &reason) {
        for (Lane &lane : m_lanes)
            lane.queuedUrl.clear();
        reportEngineError(reason);
    };
    if (found.executable.isEmpty())
        return unusable(found.problem);

    const QProcessEnvironment environment = m_options.environment.value_or(QProcessEnvironment::systemEnvironment());
    const ProxySettings proxy = proxySettings(environment);
    if (!std::exchange(m_proxyWarned, true)) {
        for (const QString &warning : proxy.warnings)
            qCWarning(lcChromium).noquote() << warning;
    }

    auto process = std::make_unique<ChromiumProcess>();
    QString error;
    if (!process->start(found.executable, environment, proxy.switches, &error))
        return unusable(error);
    m_process = std::move(process);
    m_state = State::Launching;

    auto *launch = new DevToolsConnection(m_process->transport(), this);
    m_connection = launch;
    launch->setDefaultTimeout(m_options.callTimeoutMs);
    connect(launch, &DevToolsConnection::malformedMessage, this,
            [](const QString &what) { qCWarning(lcChromium) << "ignored a malformed DevTools message:" << what; });
    connect(launch, &DevToolsConnection::closed, this,
            [this] { onEngineLost(QCoreApplication::translate("engine", "与 Chromium 的连接中断")); });
    connect(m_process.get(), &ChromiumProcess::exited, this, &ChromiumBrowser::onEngineLost);

    // Chromium leads its own process group, renderers and helpers included.
    m_watch = new MemoryWatch(m_process->processId(), m_process->profilePath(), m_options.memoryLimit, launch);

    // A Chromium still starting on a busy machine is slow, not hung.
    const int timeout = std::max(m_options.callTimeoutMs, poolSettings().launchTimeoutMs);
    // Downloads are denied: an address that is a file never lands on disk.
    launch->call(QStringLiteral("Browser.setDownloadBehavior"), {{QStringLiteral("behavior"), QStringLiteral("deny")}},
                 {}, {}, timeout);
    // Discovery lets us see popups the pages open, and close them.
    launch->call(QStringLiteral("Target.setDiscoverTargets"), {{QStringLiteral("discover"), true}}, {}, {}, timeout);
    QPointer<DevToolsConnection> current = launch;
    launch->call(
        QStringLiteral("Target.getTargets"), {}, {},
        [this, current](const QJsonObject &result, const CallError &error) {
            if (!current || current != m_connection || error.kind == CallError::Closed)
                return; // a lost connection is reported on its own
            if (error.kind == CallError::Timeout)
                return onHang(error);
            if (error.isError())
                return failEngine(error.message);
            const QJsonArray targets = result.value(QLatin1String("targetInfos")).toArray();
            for (const auto &target : targets) {
                const QJsonObject info = target.toObject();
                if (info.value(QLatin1String("type")).toString() != QLatin1String("page"))
                    continue;
                // The about:blank tab we started with becomes the first
                // lane's spare; the other lanes open their own, only now, so
                // that none of theirs could be taken for it.
                openLane(0, info.value(QLatin1String("targetId")).toString());
                for (qsizetype lane = 1; lane < m_lanes.size() && current == m_connection; ++lane)
                    openLane(lane, {});
                return;
            }
            failEngine(QCoreApplication::translate("engine", "Chromium 没有打开任何标签页"));
        },
        timeout);
}

TabPoolSettings ChromiumBrowser::poolSettings() const
{
    TabPoolSettings settings;
    settings.tab.callTimeoutMs = m_options.callTimeoutMs;
    settings.tab.settleMs = m_options.settleMs;
    settings.tab.loadDeadlineMs = m_options.loadDeadlineMs;
    settings.reuseReadTabs = m_options.batch;
    settings.wantBinding = m_options.harvestPath == HarvestPath::Binding;
    settings.tab.scope = m_linkScope;
    settings.tab.maxHarvestUnits = m_options.maxHarvestUnits;
    return settings;
}

void ChromiumBrowser::openLane(qsizetype lane, const QString &initialTab)
{
    TabPoolSettings settings = poolSettings();
    settings.closesPopups = lane == 0;
    auto *pool = new TabPool(m_connection, settings, m_connection);
    m_lanes[lane].pool = pool;
    m_lanes[lane].ready = false;
    connect(pool, &TabPool::ready, this, [this, lane] { onPoolReady(lane); });
    if (Browser *browser = m_lanes.at(lane).browser) {
        connect(pool, &TabPool::documentComplete, browser, &Browser::documentComplete);
        connect(pool, &TabPool::linksRead, browser, &Browser::linksRead);
        connect(pool, &TabPool::pageNotice, browser, &Browser::pageNotice);
        connect(pool, &TabPool::navigateError, browser, &Browser::navigateError);
    }
    connect(pool, &TabPool::hung, this, &ChromiumBrowser::onHang);
    connect(pool, &TabPool::broken, this, &ChromiumBrowser::failEngine);
    pool->setMemoryWatch(m_watch);
    if (initialTab.isEmpty())
        pool->open();
    else
        pool->adopt(initialTab);
}

void ChromiumBrowser::onPoolReady(qsizetype lane)
{
    m_lanes[lane].ready = true;
    if (m_state == State::Ready)
        return startQueued(lane); // a lane added while Chromium ran
    if (m_state != State::Launching
        || !std::all_of(m_lanes.cbegin(), m_lanes.cend(), [](const Lane &each) { return each.ready; }))
        return;
    m_state = State::Ready;
    // Chromium with its blank tabs: what it holds now is never a page's.
    if (m_watch)
        m_watch->takeBaseline();
    emit ready();
    // Whatever ready's receivers did, each lane gets only what it asked for.
    for (qsizetype each = 0; each < m_lanes.size() && m_state == State::Ready; ++each)
        startQueued(each);
}

void ChromiumBrowser::startQueued(qsizetype lane)
{
    if (!m_lanes.at(lane).queuedUrl.isEmpty())
        navigateOn(lane, std::exchange(m_lanes[lane].queuedUrl, QString()));
}

void ChromiumBrowser::reportEngineError(const QString &reason)
{
    QList<QPointer<Browser>> lanes;
    for (const Lane &lane : std::as_const(m_lanes))
        lanes.append(lane.browser);
    // A receiver may navigate again, or add a lane: the list may change.
    for (const QPointer<Browser> &lane : std::as_const(lanes)) {
        if (lane)
            emit lane->engineError(reason);
    }
}

void ChromiumBrowser::teardown()
{
    m_state = State::Stopped;
    for (Lane &lane : m_lanes) {
        lane.queuedUrl.clear();
        lane.ready = false;
        // It goes with the connection.
        if (TabPool *pool = std::exchange(lane.pool, nullptr))
            pool->disconnect();
    }
    if (m_watch)
        m_watch->stop();
    if (m_connection) {
        m_connection->disconnect(this);
        m_connection->close();
        // The pool and its tabs go with it.
        m_connection->deleteLater();
        m_connection = nullptr;
    }
    if (m_process) {
        m_process->disconnect(this);
        // We may be inside one of its signals; it goes once it is reaped.
        m_process->setParent(this);
        m_process.release()->stopLater();
    }
}

void ChromiumBrowser::onEngineLost(const QString &lost)
{
    if (m_state == State::Stopped)
        return;
    const bool starting = m_state == State::Launching;
    if (!starting) {
        teardown();
        reportEngineError(QCoreApplication::translate(
                              "engine", "Chromium 意外退出（%1），本次提取已中断；下次提取时会自动重新启动它。")
                              .arg(lost));
        return;
    }
    // The pipe often closes just before the process is gone: let it finish
    // so its last words are in the message.
    m_process->disconnect(this); // its exited() must not report a second time
    // Kept until it has spoken; then it goes like any other.
    std::unique_ptr<ChromiumProcess> dying = std::move(m_process);
    teardown();
    dying->setParent(this);
    ChromiumProcess *raw = dying.release();
    raw->whenExited(lastWordsMs, this, [this, raw, lost] {
        const QString exit = raw->exitDescription();
        const QString tail = raw->stderrTail();
        raw->stopLater();
        QString reason = QCoreApplication::translate(
                             "engine", "Chromium 启动失败（%1），本次提取未能进行；下次提取时会再次尝试启动。")
                             .arg(exit.isEmpty() ? lost : exit);
        if (!tail.isEmpty())
            reason += u'\n' + QCoreApplication::translate("engine", "Chromium 的最后输出：") + u'\n' + tail;
        reportEngineError(reason);
    });
}

void ChromiumBrowser::failEngine(const QString &cause)
{
    if (m_state == State::Stopped)
        return;
    teardown();
    reportEngineError(
        QCoreApplication::translate("engine", "Chromium 出现错误（%1），已将其关闭；下次提取时会自动重新启动它。")
            .arg(cause));
}

void ChromiumBrowser::onHang(const CallError &error)
{
    if (m_state == State::Stopped)
        return;
    teardown();
    reportEngineError(
        QCoreApplication::translate("engine", "Chromium 长时间没有响应（%1），已将其强制结束并重新启动；请重新提取。")
            .arg(error.message));
    // Unless a receiver's navigate has done so already.
    if (m_state == State::Stopped)
        startChromium();
}

} // namespace engine
