#include "engine/renderer_watch.h"

#include "engine/proc_reader.h"

#include <QLoggingCategory>

#include <algorithm>
#include <csignal>
#include <limits>
#include <numeric>
#include <sys/syscall.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcWatch, "velmora.watch", QtWarningMsg)

namespace engine {

namespace {

// Often enough that a page growing by a gigabyte a second overshoots the bound
// by a quarter of that at most; one pass reads three small files per process.
constexpr int pollMs = 250;
constexpr qint64 minimumLimit = qint64(1536) << 20;
// Chromium reports a killed renderer's crash within milliseconds; a busy
// event loop may take a while to read it.
constexpr int killedLatelyMs = 2000;

qint64 saturatingAdd(qint64 a, qint64 b)
{
    return b > std::numeric_limits<qint64>::max() - a ? std::numeric_limits<qint64>::max() : a + b;
}

bool isRendererOf(qint64 pid, qint64 processGroup)
{
    const auto stat = proc::stat(pid);
    // NUL-separated arguments; the type switch comes early.
    return stat && stat->group == processGroup && !stat->zombie()
        && proc::commandLine(pid, 16384).contains("--type=renderer");
}

} // namespace

QList<RendererUse> rendererUse(qint64 processGroup)
{
    QList<RendererUse> renderers;
    for (const proc::Stat &process : proc::allProcesses()) {
        if (process.group != processGroup)
            continue;
        if (!proc::commandLine(process.pid, 16384).contains("--type=renderer"))
            continue;
        // Resident with its shared part: a page's network data arrives in
        // memory shared with the browser.
        renderers.append({process.pid, proc::residentBytes(process.pid)});
    }
    return renderers;
}

qint64 rendererMemory(qint64 processGroup)
{
    const QList<RendererUse> renderers = rendererUse(processGroup);
    return std::accumulate(renderers.cbegin(), renderers.cend(), qint64(0),
                           [](qint64 sum, const RendererUse &renderer) { return saturatingAdd(sum, renderer.bytes); });
}

qint64 defaultRendererMemoryLimit()
{
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0)
        return minimumLimit;
    return std::max(minimumLimit, qint64(pages) * pageSize / 8);
}

int laneLimitFor(qint64 availableBytes, qint64 perPageBytes, int processors)
{
    const qint64 byMemory = perPageBytes > 0 ? std::max<qint64>(availableBytes, 0) / perPageBytes : 1;
    const qint64 byProcessors = 2 * qint64(std::max(processors, 1));
    return int(std::max<qint64>(1, std::min(byMemory, byProcessors)));
}

RendererWatch::RendererWatch(qint64 processGroup, qint64 limitBytes, QObject *parent)
    : QObject(parent), m_group(processGroup), m_limit(limitBytes > 0 ? limitBytes : defaultRendererMemoryLimit())
{
    m_timer.setInterval(pollMs);
    connect(&m_timer, &QTimer::timeout, this, &RendererWatch::check);
}

void RendererWatch::watch(const QObject *owner)
{
    m_loading.insert(owner);
    if (m_group > 0 && !m_timer.isActive())
        m_timer.start();
}

void RendererWatch::release(const QObject *owner)
{
    m_loading.remove(owner);
    if (m_loading.isEmpty())
        m_timer.stop();
}

void RendererWatch::stop()
{
    m_loading.clear();
    m_timer.stop();
}

bool RendererWatch::killedLately() const
{
    return m_sinceKill.isValid() && m_sinceKill.elapsed() < killedLatelyMs;
}

void RendererWatch::check()
{
    const QList<RendererUse> renderers = rendererUse(m_group);
    qint64 total = 0;
    RendererUse biggest;
    for (const RendererUse &renderer : renderers) {
        // One killed is on its way out, whatever it still shows.
        if (renderer.pid == m_killed)
            continue;
        total = saturatingAdd(total, renderer.bytes);
        if (renderer.bytes > biggest.bytes)
            biggest = renderer;
    }
    if (m_loading.size() == 1) {
        if (total <= m_limit)
            return;
        const QObject *owner = *m_loading.cbegin();
        release(owner);
        emit exceeded(owner, total);
        return;
    }
    const qint64 budget = m_limit > std::numeric_limits<qint64>::max() / m_loading.size()
        ? std::numeric_limits<qint64>::max()
        : m_limit * m_loading.size();
    if (biggest.pid > 0 && (biggest.bytes > m_limit || total > budget))
        kill(biggest);
}

void RendererWatch::kill(const RendererUse &renderer)
{
    // Through a pidfd, checked once open: the process read a moment ago may
    // have ended and its number gone to a process that is not ours.
    const int pidfd = int(::syscall(SYS_pidfd_open, pid_t(renderer.pid), 0));
    if (pidfd < 0)
        return;
    if (isRendererOf(renderer.pid, m_group) && ::syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0) == 0) {
        qCInfo(lcWatch) << "killed renderer" << renderer.pid << "holding" << renderer.bytes << "bytes";
        m_killed = renderer.pid;
        m_sinceKill.start();
    }
    ::close(pidfd);
}

} // namespace engine
