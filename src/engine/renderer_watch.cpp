#include "engine/renderer_watch.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <algorithm>
#include <unistd.h>

namespace engine {

namespace {

// Often enough that a page growing by a gigabyte a second overshoots the bound
// by a quarter of that at most; one pass reads three small files per process.
constexpr int pollMs = 250;
constexpr qint64 minimumLimit = qint64(1536) << 20;

QByteArray readHead(const QString &path, qint64 maxBytes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return {};
    return file.read(maxBytes);
}

// The process group from /proc/PID/stat: "pid (comm) state ppid pgrp ...",
// where comm may itself hold spaces and parentheses.
qint64 processGroupOf(const QString &pid)
{
    const QByteArray stat = readHead(QStringLiteral("/proc/%1/stat").arg(pid), 1024);
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return -1;
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    return fields.size() > 2 ? fields.at(2).toLongLong() : -1;
}

} // namespace

qint64 rendererMemory(qint64 processGroup)
{
    static const qint64 pageSize = ::sysconf(_SC_PAGESIZE);
    qint64 total = 0;
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &pid : pids) {
        if (!pid.front().isDigit() || processGroupOf(pid) != processGroup)
            continue;
        // NUL-separated arguments; the type switch comes early.
        if (!readHead(QStringLiteral("/proc/%1/cmdline").arg(pid), 16384).contains("--type=renderer"))
            continue;
        // statm: size resident ..., in pages. Resident with its shared part:
        // a page's network data arrives in memory shared with the browser.
        const QList<QByteArray> statm = readHead(QStringLiteral("/proc/%1/statm").arg(pid), 256).split(' ');
        if (statm.size() >= 2)
            total += std::max<qint64>(0, statm.at(1).toLongLong()) * pageSize;
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
