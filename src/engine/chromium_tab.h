#pragma once

#include "engine/browser.h"
#include "engine/devtools_connection.h"
#include "engine/harvest_readers.h"
#include "engine/page_scripts.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <optional>

namespace engine {

class EvaluateHarvest;
class ScopedHarvest;
class SettleWatch;

struct TabSettings
{
    int callTimeoutMs = 15000;
    // How long a tab being left gets to start for about:blank, and then to
    // load it, before it is closed as it is.
    int leaveStartMs = 5000;
    int leaveLoadMs = 20000;
    // How long after its load event a page whose own requests are still
    // coming is read at the latest; 0 reads every page at its load event.
    int settleMs = 2000;
    // What a read covers; anything but the plain scope is reported by
    // linksRead instead of harvested.
    LinkScope scope;
    // How long a read page's frames and closed shadow trees may take.
    int scopeExtrasMs = 5000;
    // What one read's links may count (scripts::linkUnits).
    qint64 maxHarvestUnits = scripts::defaultHarvestUnits;
    // A page still loading this long after navigate() is read as it stands,
    // or fails if it never committed; 0 waits for ever.
    int loadDeadlineMs = 0;
    // How long that read may take: a renderer busy in one long task (a
    // layout of minutes) answers nothing until it ends.
    int deadlineReadMs = 5000;
};

// One page target of ours: its set-up, one navigation, its frames and their
// sessions, dialogs, a crash, and leaving its page before it is closed. Only
// the current tab reports; a tab in any other role answers dialogs and
// otherwise keeps still. Deletes itself when Chromium detaches it.
class ChromiumTab final : public QObject
{
    Q_OBJECT
public:
    enum class Role {
        Spare,    // set up, not yet navigated
        Current,  // its page is the one asked for
        Idle,     // replaced; what becomes of it is not decided yet
        Parked,   // left, waiting for its successor to be read
        Retiring, // on its way out
    };

    ChromiumTab(DevToolsConnection *connection, const QString &targetId, const TabSettings &settings,
                QObject *parent = nullptr);

    const QString &targetId() const { return m_targetId; }
    const QString &url() const { return m_url; }
    Role role() const { return m_role; }
    bool usesBinding() const { return m_page.useBinding; }
    // Read, and not loading anything since.
    bool isSettled() const { return m_page.settled; }
    bool hasFailed() const { return m_page.failed; }
    const LinkScope &scope() const { return m_settings.scope; }

    // Attaches and installs the page scripts (the harvest script too when
    // wantBinding); finishes with setUpFinished.
    void setUp(int timeoutMs, bool wantBinding);
    void navigate(const QString &url);
    void setIdle() { m_role = Role::Idle; }
    // Gives up on the page without a word: nothing of it is reported.
    void abandon();
    // Stops its scripts, so timers neither move it on nor use the processor.
    void park();
    // Leaves the page for about:blank (which takes cross-site frames down
    // safely), then emits leftPage: closing a tab while a frame in it waits on
    // a dialog crashes Chromium.
    void retire();

signals:
    void setUpFinished(const CallError &error);
    void harvested(const QString &url, const QStringList &links);
    void linksRead(const QString &url, const engine::Links &links);
    // Comes just before the read it concerns.
    void pageNotice(const QString &url, engine::PageNotice kind, const QString &message);
    void frameComplete(const QString &url);
    void failed(const QString &reason);
    // A renderer of the current page, its own or a frame's, is gone.
    void crashed();
    // A parked page started loading again: it is not still any more.
    void movedOn();
    void leftPage();

private:
    void onEvent(DevToolsSession *from, const QString &method, const QJsonObject &params);
    void onCurrentEvent(bool onPage, const QString &method, const QJsonObject &params);
    void onAttached(const QJsonObject &params);
    void watch(DevToolsSession *session);
    void readByEvaluate();
    void readWithScope();
    // Reads the document now, as loaded (or as it stands).
    void readNow();
    void onUnresponsive();
    void onLoadDeadline();
    QString deadlineSeconds() const;
    QString deadlineReason() const;
    // The document loaded, or stopped: read it now or once it has settled.
    void onLoadEnded();
    bool acceptsRead(const QString &url);
    void reportLinks(const QString &url, const Links &links, bool cut);
    // Whether url's read is reported: accepted, and its LinksCut notice
    // said first (a receiver may delete the tab).
    bool mayReport(const QString &url, qsizetype kept, bool cut);
    void noticeCut(const QString &url, qsizetype kept);
    // The document loaded (or stopped): true to read it now, else it is
    // read once it has settled.
    bool readsAtLoad();
    void fail(const QString &reason);
    void reportHarvest(const QString &url, const QStringList &links, bool cut);
    void stopScripts();
    void finishLeaving();

    DevToolsConnection *m_connection;
    QPointer<DevToolsSession> m_session;
    QString m_targetId;
    TabSettings m_settings;
    Role m_role = Role::Spare;
    QString m_url;
    QString m_topFrameId;
    QHash<QString, QString> m_childFrames; // frame id -> url
    PlainParts m_binding;
    EvaluateHarvest *m_evaluate = nullptr;
    ScopedHarvest *m_scoped = nullptr; // reads with a scope, when one is set
    // With frames in scope: a page whose load a frame holds for ever is read
    // this long after its document was parsed.
    QTimer m_loadBound;
    QTimer m_loadDeadline; // from navigate() to the first read
    QTimer m_deadlineRead; // from the deadline to its read
    SettleWatch *m_settleWatch;
    std::optional<PageLinks> m_loadTimeRead; // the binding's read of a page left to settle
    // Where the tab and its page stand.
    struct PageState
    {
        bool useBinding = false;    // the harvest script and its binding are in place
        bool committed = false;     // Page.navigate answered: events now concern our page
        bool failed = false;        // what loads now is an error page, or we gave up on it
        bool documentShown = false; // the top frame committed a document of ours
        bool loadEnded = false;     // the document fired its load event, or stopped (per document)
        // document.open() replaced it, removing every listener of the window,
        // the harvest script's too: it is read as the evaluate path does (per document)
        bool opened = false;
        bool atDeadline = false;   // read at the load deadline, still loading
        bool documentRead = false; // the document has been reported: once is all (per document)
        bool settled = false;      // read, and not loading anything since
        bool leaving = false;      // Page.navigate to about:blank has been answered
        bool left = false;         // leftPage has been emitted
    };
    PageState m_page;
};

} // namespace engine
