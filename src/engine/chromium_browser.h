#pragma once

#include "engine/browser.h"
#include "engine/devtools_connection.h"
#include "engine/memory_watch.h"
#include "engine/page_scripts.h"
#include "engine/tab_pool.h"

#include <QList>
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
    // restarted. Page loads have loadDeadlineMs.
    int callTimeoutMs = 15000;
    HarvestPath harvestPath = HarvestPath::Binding;
    // The longest a loaded page whose own requests are still coming waits to
    // be read; 0 reads it at its load event.
    int settleMs = 2000;
    // A page still loading this long after its navigation is read as it
    // stands (pageNotice ReadAtDeadline), or fails if nothing of it came;
    // 0 waits for ever.
    int loadDeadlineMs = 60000;
    // Bytes a page may make Chromium hold (its processes and its profile
    // folder, over what Chromium holds by itself) before the page is closed;
    // 0: defaultMemoryLimit().
    qint64 memoryLimit = 0;
    // What one read's links may hold in all, in UTF-16 units
    // (scripts::linkUnits): the links past it are left out, with a
    // LinksCut notice.
    qint64 maxHarvestUnits = scripts::defaultHarvestUnits;
    // Pages are asked for one right after another (a list on the command
    // line): a page read whole is left by loading the next in its tab.
    bool batch = false;
    // Where Chromium's proxy (http_proxy, no_proxy...) and the little of the
    // environment it keeps come from; unset: this process's, at each launch.
    std::optional<QProcessEnvironment> environment;
};

// The real engine: headless Chromium driven over the DevTools pipe. Starts
// Chromium, restarts it when it hangs and says in Chinese what went wrong;
// the tabs are the TabPool's, one pool per lane.
//
// Lanes: the browser itself is the first; each added one loads its pages in
// tabs of its own on the same Chromium, its pool made at each launch (the
// first pool takes the tab Chromium starts with, the others open their own).
// A navigate on any lane before its pool is ready is kept (the last one
// wins) and starts the engine if it is stopped. An engine failure fails the
// page of every lane, each through its own engineError, and the next
// navigate on any lane relaunches Chromium for all.
class ChromiumBrowser final : public Browser
{
    Q_OBJECT
public:
    explicit ChromiumBrowser(QObject *parent = nullptr);
    explicit ChromiumBrowser(const ChromiumOptions &options, QObject *parent = nullptr);
    ~ChromiumBrowser() override;

    void start() override;
    void navigate(const QString &url) override;
    Browser *addLane() override;

    // How many lanes, the browser itself included, this machine holds: a
    // page may grow to the memory bound (0: the default)
    // before it is stopped, so as many as MemAvailable has room for at that
    // bound, and at most two per processor; at least one (one, too, where
    // MemAvailable cannot be read).
    static int laneLimit(qint64 memoryLimit = 0);
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
    // Chromium is up and every lane has its tab: a navigate now starts
    // loading at once.
    void ready();

private:
    enum class State {
        Stopped,
        Launching,
        Ready
    };

    friend class ChromiumLane;

    struct Lane
    {
        explicit Lane(Browser *of) : browser(of) {}

        QPointer<Browser> browser; // this, for the first
        QPointer<TabPool> pool;    // one per launch
        bool ready = false;
        QString queuedUrl; // asked for before its pool was ready
    };

    void navigateOn(qsizetype lane, const QString &url);
    void startChromium();
    TabPoolSettings poolSettings() const;
    void openLane(qsizetype lane, const QString &initialTab);
    void onPoolReady(qsizetype lane);
    void startQueued(qsizetype lane);
    void reportEngineError(const QString &reason);
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
    QPointer<MemoryWatch> m_watch;
    QList<Lane> m_lanes;
    LinkScope m_linkScope;
    bool m_proxyWarned = false; // its warnings are said once, not at each relaunch
};

// A lane of a ChromiumBrowser, which owns it (see addLane).
class ChromiumLane final : public Browser
{
    Q_OBJECT
public:
    void start() override { m_engine->start(); }
    void navigate(const QString &url) override { m_engine->navigateOn(m_index, url); }
    Browser *addLane() override { return m_engine->addLane(); }
    void setLinkScope(const LinkScope &scope) override { m_engine->setLinkScope(scope); }

private:
    friend class ChromiumBrowser;
    ChromiumLane(ChromiumBrowser *engine, qsizetype index) : Browser(engine), m_engine(engine), m_index(index) {}

    ChromiumBrowser *m_engine;
    qsizetype m_index;
};

} // namespace engine
