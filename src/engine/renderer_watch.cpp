#include "engine/renderer_watch.h"

#include "engine/proc_reader.h"

#include <algorithm>
#include <limits>
#include <unistd.h>

namespace engine {

namespace {

// Often enough that a page growing by a gigabyte a second overshoots the bound
// by a quarter of that at most; one pass reads three small files per process.
constexpr int pollMs = 250;
constexpr qint64 minimumLimit = qint64(1536) << 20;

} // namespace

qint64 rendererMemory(qint64 processGroup)
{
    qint64 total = 0;
    for (const proc::Stat &process : proc::allProcesses()) {
        if (process.group != processGroup)
            continue;
        // NUL-separated arguments; the type switch comes early.
        if (!proc::commandLine(process.pid, 16384).contains("--type=renderer"))
            continue;
        // Resident with its shared part: a page's network data arrives in
        // memory shared with the browser.
        const qint64 bytes = proc::residentBytes(process.pid);
        total = bytes > std::numeric_limits<qint64>::max() - total ? std::numeric_limits<qint64>::max() : total + bytes;
    }
    return total;
}

qint64 defaultRendererMemoryLimit()
{
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0)
        return minimumLimit;
    return std::max(minimumLimit, qint64(pages) * pageSize / 8);
}

RendererWatch::RendererWatch(qint64 processGroup, qint64 limitBytes, QObject *parent)
    : QObject(parent), m_group(processGroup), m_limit(limitBytes > 0 ? limitBytes : defaultRendererMemoryLimit())
{
    m_timer.setInterval(pollMs);
    connect(&m_timer, &QTimer::timeout, this, &RendererWatch::check);
}

void RendererWatch::watch()
{
    if (m_group > 0)
        m_timer.start();
}

void RendererWatch::check()
{
    const qint64 bytes = rendererMemory(m_group);
    if (bytes <= m_limit)
        return;
    m_timer.stop();
    emit exceeded(bytes);
}

} // namespace engine
