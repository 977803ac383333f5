#pragma once

#include "engine/chromium_tab.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>

namespace engine {

class RendererWatch;

struct TabPoolSettings
{
    TabSettings tab;
    bool wantBinding = true;
    // Calls made while Chromium is still starting get at least this long: on
    // a busy machine it is slow, not hung.
    int launchTimeoutMs = 30000;
    // The longest a read page waits for the next one to be read before it is left.
    int parkMs = 5000;
    // A tab still there this long after it was asked to close is asked again.
    int closeCheckMs = 1000;
    int closeAttempts = 5;
    // Popups belong to no lane: one pool per Chromium closes them.
    bool closesPopups = true;
    // A page read whole and still is left by loading the next one in its
    // tab, as a browser does, instead of opening a fresh tab and a fresh
    // renderer for it: for a caller that reads a list, whose next navigate
    // follows the read at once. A page still loading, moving on or failed
    // still gets a fresh tab.
    bool reuseReadTabs = false;
};

// The tabs of one Chromium: every navigation gets a fresh tab, set up ahead
// of time as the spare, so a stalled page never blocks the next one and memory
// does not grow from visit to visit. A page that has been read waits (parked)
// until its successor has been read, so unloading it does not compete with
// building the next; then it leaves its page and is closed.
class TabPool final : public QObject
{
    Q_OBJECT
public:
    TabPool(DevToolsConnection *connection, const TabPoolSettings &settings, QObject *parent = nullptr);

    // The tab Chromium started with becomes the first spare; ready() follows.
    void adopt(const QString &targetId);
    // Or a tab of its own is opened for it, for a pool beside the first.
    void open();
    // Watches the renderers' memory while each page loads (optional).
    void setRendererWatch(RendererWatch *watch);
    void navigate(const QString &url);
    // What the reads of pages navigated from now on cover; a spare tab
    // prepared for another scope is replaced.
    void setLinkScope(const LinkScope &scope);

    ChromiumTab *current() const { return m_current; }
    ChromiumTab *spare() const { return m_spare; }
    ChromiumTab *parked() const { return m_parked; }

signals:
    void ready();
    void documentComplete(bool topLevel, const QString &url, const QStringList &anchors);
    void linksRead(const QString &url, const engine::Links &links);
    void navigateError(const QString &url, const QString &reason);
    void pageNotice(const QString &url, engine::PageNotice kind, const QString &message);
    // Chromium left a call unanswered (hung), or answered one with an error
    // that leaves it unusable (broken).
    void hung(const CallError &error);
    void broken(const QString &cause);

private:
    int timeout() const;
    bool engineFailed(const CallError &error);
    void prepareTab(const QString &targetId, int generation, const QString &url);
    void startOn(ChromiumTab *tab, const QString &url);
    void afterRead();
    void leave(ChromiumTab *tab);
    void retire(ChromiumTab *tab);
    void closeTarget(const QString &targetId);
    void ensureSpare();
    void openSpare();
    void onBrowserEvent(const QString &method, const QJsonObject &params);
    void stopRunawayPage(ChromiumTab *tab);

    DevToolsConnection *m_connection;
    TabPoolSettings m_settings;
    QPointer<RendererWatch> m_watch;
    bool m_ready = false;
    int m_generation = 0; // bumps at every navigate
    QPointer<ChromiumTab> m_current;
    QPointer<ChromiumTab> m_spare;
    QPointer<ChromiumTab> m_parked;
    bool m_preparingSpare = false;
    QString m_urlForSpare; // navigate waiting for the spare being prepared
    // Targets asked to close, with the attempts made: Chromium answers
    // success yet keeps a tab whose page is navigating at that moment.
    QHash<QString, int> m_closing;
};

} // namespace engine
