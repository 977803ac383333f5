#pragma once

#include <QObject>
#include <QTimer>

namespace engine {

// Resident bytes of the renderer processes in a Chromium process group.
qint64 rendererMemory(qint64 processGroup);

// The default bound: an eighth of physical memory, never below 1.5 GiB. The
// biggest real pages we know (a million links) peak near 1 GiB; a page past
// the bound is broken or hostile, and stopping it there leaves the desktop,
// and the window's own copy of a big list, the rest.
qint64 defaultRendererMemoryLimit();

// Polls the renderers' memory while a page loads. A page that outgrows the
// bound would otherwise swap the desktop to death before it ends, if ever.
class RendererWatch final : public QObject
{
    Q_OBJECT
public:
    RendererWatch(qint64 processGroup, qint64 limitBytes, QObject *parent = nullptr);

    void watch();
    void stop() { m_timer.stop(); }
    qint64 limit() const { return m_limit; }

signals:
    // Once per watch(): the renderers hold more than the bound.
    void exceeded(qint64 bytes);

private:
    void check();

    QTimer m_timer;
    qint64 m_group;
    qint64 m_limit;
};

} // namespace engine
