#include "engine/chromium_browser.h"

#include "engine/chromium_locator.h"
#include "engine/chromium_process.h"
#include "engine/devtools_connection.h"
#include "engine/proxy_settings.h"
#include "engine/tab_pool.h"

#include <QJsonArray>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcChromium, "velmora.chromium", QtWarningMsg)

namespace engine {

namespace {
// How long a Chromium that lost its pipe while starting gets to exit, so its
// last words are in the message.
constexpr int lastWordsMs = 1000;
} // namespace

ChromiumBrowser::ChromiumBrowser(QObject *parent) : ChromiumBrowser(ChromiumOptions{}, parent) {}

ChromiumBrowser::ChromiumBrowser(const ChromiumOptions &options, QObject *parent) : Browser(parent), m_options(options)
{}

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
    switch (m_state) {
    case State::Stopped:
        m_queuedUrl = url;
        startChromium();
        break;
    case State::Launching:
        m_queuedUrl = url;
        break;
    case State::Ready: {
        // Page.navigate itself has no limit (a page may load for ever); this
        // cheap call tells a hung Chromium from a slow page.
        QPointer<DevToolsConnection> launch = m_connection;
        m_connection->call(QStringLiteral("Browser.getVersion"), {}, {},
                           [this, launch](const QJsonObject &, const CallError &error) {
                               if (launch && launch == m_connection && error.kind == CallError::Timeout)
                                   onHang(error);
                           });
        m_pool->navigate(url);
        break;
    }
    }
}

void ChromiumBrowser::setLinkScope(const LinkScope &scope)
{
    m_linkScope = scope;
    if (m_pool)
        m_pool->setLinkScope(scope);
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

    const QProcessEnvironment environment = m_options.environment.value_or(QProcessEnvironment::systemEnvironment());
    const ProxySettings proxy = proxySettings(environment);
    if (!std::exchange(m_proxyWarned, true)) {
        for (const QString &warning : proxy.warnings)
            qCWarning(lcChromium).noquote() << warning;
    }

    auto process = std::make_unique<ChromiumProcess>();
    QString error;
    if (!process->start(found.executable, environment, proxy.switches, &error)) {
        m_queuedUrl.clear();
        emit engineError(error);
        return;
    }
    m_process = std::move(process);
    m_state = State::Launching;

    auto *launch = new DevToolsConnection(m_process->transport(), this);
    m_connection = launch;
    launch->setDefaultTimeout(m_options.callTimeoutMs);
    connect(launch, &DevToolsConnection::malformedMessage, this,
            [](const QString &what) { qCWarning(lcChromium) << "ignored a malformed DevTools message:" << what; });
    connect(launch, &DevToolsConnection::closed, this,
            [this] { onEngineLost(QStringLiteral("与 Chromium 的连接中断")); });
    connect(m_process.get(), &ChromiumProcess::exited, this, &ChromiumBrowser::onEngineLost);

    TabPoolSettings settings;
    settings.tab.callTimeoutMs = m_options.callTimeoutMs;
    settings.tab.settleMs = m_options.settleMs;
    settings.wantBinding = m_options.harvestPath == HarvestPath::Binding;
    settings.tab.scope = m_linkScope;
    m_pool = new TabPool(launch, settings, launch);
    connect(m_pool, &TabPool::ready, this, &ChromiumBrowser::onPoolReady);
    connect(m_pool, &TabPool::documentComplete, this, &Browser::documentComplete);
    connect(m_pool, &TabPool::linksRead, this, &Browser::linksRead);
    connect(m_pool, &TabPool::navigateError, this, &Browser::navigateError);
    connect(m_pool, &TabPool::hung, this, &ChromiumBrowser::onHang);
    connect(m_pool, &TabPool::broken, this, &ChromiumBrowser::failEngine);
    // Chromium leads its own process group, renderers included.
    m_watch = new RendererWatch(m_process->processId(), m_options.rendererMemoryLimit, launch);
    m_pool->setRendererWatch(m_watch);

    // A Chromium still starting on a busy machine is slow, not hung.
    const int timeout = std::max(m_options.callTimeoutMs, settings.launchTimeoutMs);
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
                // The about:blank tab we started with becomes the first spare.
                if (info.value(QLatin1String("type")).toString() == QLatin1String("page"))
                    return m_pool->adopt(info.value(QLatin1String("targetId")).toString());
            }
            failEngine(QStringLiteral("Chromium 没有打开任何标签页"));
        },
        timeout);
}

void ChromiumBrowser::onPoolReady()
{
    if (m_state != State::Launching)
        return;
    m_state = State::Ready;
    emit ready();
    if (m_state == State::Ready && !m_queuedUrl.isEmpty())
        m_pool->navigate(std::exchange(m_queuedUrl, QString()));
}

void ChromiumBrowser::teardown()
{
    m_state = State::Stopped;
    m_queuedUrl.clear();
    if (m_pool)
        m_pool->disconnect(this);
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
        emit engineError(
            QStringLiteral("Chromium 意外退出（%1），本次提取已中断；下次提取时会自动重新启动它。").arg(lost));
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
        QString reason = QStringLiteral("Chromium 启动失败（%1），本次提取未能进行；下次提取时会再次尝试启动。")
                             .arg(exit.isEmpty() ? lost : exit);
        if (!tail.isEmpty())
            reason += QStringLiteral("\nChromium 的最后输出：\n") + tail;
        emit engineError(reason);
    });
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
    emit engineError(
        QStringLiteral("Chromium 长时间没有响应（%1），已将其强制结束并重新启动；请重新提取。").arg(error.message));
    startChromium();
}

} // namespace engine
