#pragma once

#include "engine/browser.h"

#include <QHash>
#include <QJsonObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace engine {

class ChromiumProcess;
class RendererWatch;
class DevToolsConnection;
struct CallError;

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
    // Bytes Chromium's renderers may hold while a page loads before the page is
    // stopped; 0: defaultRendererMemoryLimit().
    qint64 rendererMemoryLimit = 0;
};

// The real engine: headless Chromium driven over the DevTools pipe. Every
// extraction gets a fresh tab and the previous one is closed, so a stalled
// page never blocks the next one and memory does not grow from visit to visit.
class ChromiumBrowser final : public Browser
{
    Q_OBJECT
public:
    explicit ChromiumBrowser(QObject *parent = nullptr);
    explicit ChromiumBrowser(const ChromiumOptions &options, QObject *parent = nullptr);
    ~ChromiumBrowser() override;

    void start() override;
    void navigate(const QString &url) override;

    const ChromiumOptions &options() const { return m_options; }
    bool isReady() const { return m_state == State::Ready; }
    // The running Chromium's process id and profile folder (0 and empty when
    // none); for tests and the benchmark.
    qint64 processId() const;
    QString profilePath() const;
    // The DevTools connection while Chromium runs, else null; lets tests ask
    // Chromium itself what it holds (its targets, for one).
    DevToolsConnection *connection() const { return m_connection; }

signals:
    // Chromium is up and attached; a navigate now starts loading at once.
    void ready();

private:
    enum class State { Stopped, Launching, Ready };

    // A harvest arriving in parts.
    struct HarvestParts
    {
        int parts = 0;
        int next = 0;
        QString url;
        QStringList links;
    };
    // A tab of ours and what we know of its documents.
    struct Tab
    {
        QString targetId;
        QString sessionId;
        QString url;           // as asked for
        QString topFrameId;
        QHash<QString, QString> childFrames; // frame id -> url
        HarvestParts harvest;
        bool useBinding = false;
        bool committed = false; // Page.navigate answered: events now concern our page
        bool failed = false;    // navigation failed: what loads now is an error page
        bool settled = false;   // read, and not loading anything since
        bool loadEnded = false; // the current document fired its load event, or was read after it stopped
        int generation = 0;    // the navigate() it serves; 0 while spare
        // Evaluate path: the world to read the document in is made when the
        // document commits, so its load costs one round trip, not two.
        int documents = 0;       // top-level documents committed; tags world replies
        int evaluateContext = 0; // 0 until the current document's world exists
        bool worldPending = false;
        bool loadWaiting = false; // loaded before its world was ready
    };

    void startChromium();
    int callTimeout() const;
    void onLaunched();
    void teardown();
    void onEngineLost(const QString &cause);
    void failEngine(const QString &cause);
    void onHang(const CallError &error);

    void prepareTab(const QString &targetId, int generation, const QString &url);
    void beginNavigation(const QString &url);
    void navigateTab(const std::shared_ptr<Tab> &tab, const QString &url);
    void leaveTab(const std::shared_ptr<Tab> &tab);
    void stopScripts(const QString &sessionId);
    void retireTab(const std::shared_ptr<Tab> &tab);
    void finishRetiring(const QString &sessionId);
    void closeTarget(const QString &targetId);
    void ensureSpare();

    void onEvent(const QString &sessionId, const QString &method, const QJsonObject &params);
    void onAttached(const QString &parentSession, const QJsonObject &params);
    void onBindingCalled(const std::shared_ptr<Tab> &tab, const QJsonObject &params);
    void makeEvaluateWorld(const std::shared_ptr<Tab> &tab);
    void harvestByEvaluate(const std::shared_ptr<Tab> &tab);
    void evaluateHarvest(const std::shared_ptr<Tab> &tab, int contextId);
    void reportBusy(const std::shared_ptr<Tab> &tab);
    void stopRunawayPage(qint64 bytes);
    void reportHarvest(const std::shared_ptr<Tab> &tab, const QString &url, const QStringList &links);
    std::shared_ptr<Tab> tabOfSession(const QString &sessionId) const;

    int call(const QString &method, const QJsonObject &params, const QString &sessionId,
             std::function<void(const QJsonObject &, const CallError &)> callback, int timeoutMs);

    ChromiumOptions m_options;
    State m_state = State::Stopped;
    std::unique_ptr<ChromiumProcess> m_process;
    DevToolsConnection *m_connection = nullptr;
    RendererWatch *m_watch = nullptr; // while Chromium runs
    int m_launch = 0;       // bumps at every launch; stale callbacks check it
    int m_generation = 0;   // bumps at every navigate
    QString m_queuedUrl;    // asked for while Chromium was starting
    std::shared_ptr<Tab> m_current;
    std::shared_ptr<Tab> m_spare;   // attached and set up, not yet navigated
    std::shared_ptr<Tab> m_parked;  // left, waiting for its successor to be read
    bool m_preparingSpare = false;
    QString m_urlForSpare;          // navigate waiting for the spare being prepared
    QHash<QString, QString> m_childSessions; // frame/worker session -> its tab's session
    // Tabs on their way out, by session: closed once they have left their page.
    struct Retiring
    {
        QString targetId;
        bool leaving = false; // Page.navigate to about:blank has been answered
    };
    QHash<QString, Retiring> m_retiring;
    // Tabs asked to close, by target, with the attempts made: Chromium answers
    // success yet keeps a tab whose page is navigating at that moment.
    QHash<QString, int> m_closing;
};

} // namespace engine
