#pragma once

#include "engine/browser.h"
#include "engine/devtools_connection.h"
#include "engine/renderer_watch.h"
#include "engine/tab_pool.h"

#include <QPointer>
#include <QProcessEnvironment>
#include <QString>

#include <memory>
#include <optional>

namespace engine {

class ChromiumProcess;

// How the links of a loaded page are read.
enum class HarvestPath {
    // A pageshow listener in an isolated world reports through a binding at
    // the end of the load task, before the first layout: the fast path.
    Binding,
    // After Page.loadEventFired, one Runtime.evaluate in an isolated world.
    // Used where the binding cannot be installed.
    Evaluate,
};

struct ChromiumOptions
{
    // Empty: $VELMORA_CHROMIUM, then the headless shell, then the full
    // browser and the usual names on PATH.
    QString executable;
    // A call Chromium leaves unanswered this long means it hangs: it is
    // restarted. Page loads themselves have no limit.
    int callTimeoutMs = 15000;
    HarvestPath harvestPath = HarvestPath::Binding;
    // The longest a loaded page whose own requests are still coming waits to
    // be read; 0 reads it at its load event.
    int settleMs = 2000;
    // Bytes Chromium's renderers may hold while a page loads before the page is
    // stopped; 0: defaultRendererMemoryLimit().
    qint64 rendererMemoryLimit = 0;
    // Where Chromium's proxy (http_proxy, no_proxy...) and the little of the
    // environment it keeps come from; unset: this process's, at each launch.
    std::optional<QProcessEnvironment> environment;
};

// The real engine: headless Chromium driven over the DevTools pipe. Starts
// Chromium, restarts it when it hangs and says in Chinese what went wrong;
// the tabs are the TabPool's.
class ChromiumBrowser final : public Browser
{
    Q_OBJECT
public:
    explicit ChromiumBrowser(QObject *parent = nullptr);
    explicit ChromiumBrowser(const ChromiumOptions &options, QObject *parent = nullptr);
    ~ChromiumBrowser() override;

    void start() override;
    void navigate(const QString &url) override;
    void setLinkScope(const LinkScope &scope) override;

    const ChromiumOptions &options() const { return m_options; }
    bool isReady() const { return m_state == State::Ready; }
    // The running Chromium's process id and profile folder (0 and empty when
    // none); for tests and the benchmark.
    qint64 processId() const;
    QString profilePath() const;
    // The DevTools connection while Chromium runs, else null; lets tests ask
    // Chromium itself what it holds (its targets, for one).
    DevToolsConnection *connection() const { return m_connection.data(); }

signals:
    // Chromium is up and attached; a navigate now starts loading at once.
    void ready();

private:
    enum class State {
        Stopped,
        Launching,
        Ready
    };

    void startChromium();
    void onPoolReady();
    void teardown();
    void onEngineLost(const QString &cause);
    void failEngine(const QString &cause);
    void onHang(const CallError &error);

    ChromiumOptions m_options;
    State m_state = State::Stopped;
    // One of each per launch; teardown lets them go, so the callbacks of a
    // launch that ended find nothing to act on.
    std::unique_ptr<ChromiumProcess> m_process;
    QPointer<DevToolsConnection> m_connection;
    QPointer<TabPool> m_pool;
    QPointer<RendererWatch> m_watch;
    LinkScope m_linkScope;
    QString m_queuedUrl;        // asked for while Chromium was starting
    bool m_proxyWarned = false; // its warnings are said once, not at each relaunch
};

} // namespace engine
