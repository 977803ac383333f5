#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

namespace engine {

struct RendererUse
{
    qint64 pid = 0;
    qint64 bytes = 0;
};

// What the processes of a Chromium process group hold that pages can make
// grow: each one's private and shared-memory pages (RssAnon + RssShmem), so
// the Chromium binary and libraries they all map count nowhere. The browser
// process holds blobs and network data, the renderers the pages.
struct ChromiumUse
{
    qint64 bytes = 0;
    RendererUse biggestRenderer;
};
// What each process seen is to the watch. A process keeps its group, and a
// renderer its type switch, so those are read once per process (numbers come
// back only after the whole range has been used).
enum class ProcessKind : quint8 {
    Other,
    Chromium,
    Renderer,
};
// leaveOut: a process not to count (one on its way out); known: the kinds
// found by an earlier pass, brought up to date (else every process is read).
ChromiumUse chromiumUse(qint64 processGroup, qint64 leaveOut = 0, QHash<qint64, ProcessKind> *known = nullptr);

// The bytes a folder takes on disk (allocated, sparse files as they are),
// its subfolders included but Chromium's caches (folders named *Cache, which
// Chromium keeps within bounds of its own); symbolic links are not followed.
qint64 allocatedBytes(const QString &folder);

// The default bound: an eighth of physical memory, never below 1.5 GiB. The
// biggest real pages we know (a million links) peak near 1 GiB; a page past
// the bound is broken or hostile, and stopping it there leaves the desktop,
// and the window's own copy of a big list, the rest.
qint64 defaultMemoryLimit();

// How many pages may load at once: each may grow to perPageBytes before it
// is stopped, so as many as fit in availableBytes, and two per processor (a
// page mostly waits on its server; more would starve the renderers parsing
// and make Chromium look hung). At least one.
int laneLimitFor(qint64 availableBytes, qint64 perPageBytes, int processors);

// Bounds what Chromium holds for our pages, for each page's whole life:
// loading, read and shown, parked and leaving. A page past the bound would
// otherwise swap the desktop to death, or fill the profile folder (blobs
// spill there, and it may be in RAM on a tmpfs /tmp).
//
// What counts is the growth over Chromium's own baseline (taken once it is
// ready with its blank tabs): the whole process tree (browser, GPU, network,
// renderers; see ChromiumUse) and the profile folder's allocated size.
//
// Nothing in /proc or DevTools says which renderer serves which tab. So when
// the growth passes the bound while pages we have left (parked or retiring)
// still live, those are closed at once and judgement waits until they are
// gone and their renderers have had a moment to exit: a page is never blamed
// for its predecessor's memory. Then, with one current page, the growth is
// that page's: it is reported (exceeded) and its owner closes it. With
// several (lanes), the overrun is met where the memory is: the biggest
// renderer is killed, and Chromium then says whose page (or frame) crashed
// (killedLately tells that crash from any other). It is killed when it alone
// holds more than the bound, or when the growth passes the bound for each
// current page (a page spread over many cross-site frames); only that second
// case can hit a page within its bound.
class MemoryWatch final : public QObject
{
    Q_OBJECT
public:
    enum class Stage {
        Current, // loading, read or failed: the page shown for its lane
        Leaving, // parked, retiring or being closed
    };

    MemoryWatch(qint64 processGroup, const QString &profileFolder, qint64 limitBytes, QObject *parent = nullptr);

    // What Chromium holds now is its own and never counts against a page.
    void takeBaseline();
    // A page (a tab; only compared) and where it stands; it is forgotten
    // once destroyed. The watch polls while it knows any page.
    void track(QObject *page, Stage stage);
    void stop();
    qint64 limit() const { return m_limit; }
    // A renderer was killed for its memory a moment ago.
    bool killedLately() const;

signals:
    // Over the bound: page, one left, is to be closed at once.
    void makeRoom(QObject *page);
    // page, the one current page, holds more than the bound; it now counts
    // as leaving.
    void exceeded(QObject *page, qint64 bytes);

private:
    void check();
    qint64 growth(const ChromiumUse &use);
    void kill(const RendererUse &renderer);
    // Over the bound with pages left: true while judgement waits for them.
    bool waitingForLeavers();

    QTimer m_timer;
    qint64 m_group;
    QString m_profile;
    qint64 m_limit;
    QHash<QObject *, Stage> m_pages;
    QHash<qint64, ProcessKind> m_processes;
    QSet<QObject *> m_askedToGo;
    qint64 m_baseProcesses = 0;
    qint64 m_baseProfile = 0;
    qint64 m_profileBytes = 0;
    QElapsedTimer m_sinceProfileWalk;
    qint64 m_profileWalkMs = 0; // the last walk's cost
    QElapsedTimer m_waiting;    // over the bound, waiting for pages left to go
    QElapsedTimer m_sinceLeaverGone;
    qint64 m_killed = 0; // the last renderer killed: it may take a moment to go
    QElapsedTimer m_sinceKill;
};

} // namespace engine
