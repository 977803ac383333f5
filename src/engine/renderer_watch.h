#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QSet>
#include <QTimer>

namespace engine {

struct RendererUse
{
    qint64 pid = 0;
    qint64 bytes = 0; // resident, shared part included
};

// The renderer processes in a Chromium process group, with their memory.
QList<RendererUse> rendererUse(qint64 processGroup);
// Their resident bytes together.
qint64 rendererMemory(qint64 processGroup);

// The default bound: an eighth of physical memory, never below 1.5 GiB. The
// biggest real pages we know (a million links) peak near 1 GiB; a page past
// the bound is broken or hostile, and stopping it there leaves the desktop,
// and the window's own copy of a big list, the rest.
qint64 defaultRendererMemoryLimit();

// How many pages may load at once: each may grow to perPageBytes before it
// is stopped, so as many as fit in availableBytes, and two per processor (a
// page mostly waits on its server; more would starve the renderers parsing
// and make Chromium look hung). At least one.
int laneLimitFor(qint64 availableBytes, qint64 perPageBytes, int processors);

// Polls the renderers' memory while pages load. A page that outgrows the
// bound would otherwise swap the desktop to death before it ends, if ever.
//
// With one page loading, whatever the renderers hold beyond the bound is that
// page's: it is reported (exceeded) and its owner stops it. With several,
// nothing in /proc or DevTools says which renderer serves which page, and
// stopping a page on a guess could stop an innocent one. So the overrun is
// met where the memory is: the biggest renderer is killed, and Chromium then
// says whose page (or frame) crashed (killedLately tells that crash from any
// other); pages whose renderers were not touched load on. It is killed when
// it alone holds more than the bound, or when all renderers together hold
// more than the bound for each loading page (a page spread over many
// cross-site frames); only that second case can hit a page within its bound.
class RendererWatch final : public QObject
{
    Q_OBJECT
public:
    RendererWatch(qint64 processGroup, qint64 limitBytes, QObject *parent = nullptr);

    // A page of owner's starts loading, or is done loading (read, failed or
    // left); the watch polls while any is loading. owner is only compared.
    void watch(const QObject *owner);
    void release(const QObject *owner);
    void stop();
    qint64 limit() const { return m_limit; }
    // A renderer was killed for its memory a moment ago.
    bool killedLately() const;

signals:
    // The one page loading, owner's, holds more than the bound; it is
    // released.
    void exceeded(const QObject *owner, qint64 bytes);

private:
    void check();
    void kill(const RendererUse &renderer);

    QTimer m_timer;
    qint64 m_group;
    qint64 m_limit;
    QSet<const QObject *> m_loading;
    qint64 m_killed = 0; // the last renderer killed: it may take a moment to go
    QElapsedTimer m_sinceKill;
};

} // namespace engine
