#include "procfs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <limits>
#include <numeric>
#include <unistd.h>

using engine::proc::procPath;
using engine::proc::readHead;
using engine::proc::smallFileBytes;

namespace procfs {

namespace {

QHash<qint64, qint64> parentMap()
{
    QHash<qint64, qint64> parents;
    for (const engine::proc::Stat &s : engine::proc::allProcesses())
        parents.insert(s.pid, s.ppid);
    return parents;
}

} // namespace

QList<qint64> descendants(qint64 root, const QHash<qint64, qint64> &parents)
{
    if (!parents.contains(root))
        return {};
    QHash<qint64, QList<qint64>> children;
    for (auto it = parents.cbegin(); it != parents.cend(); ++it)
        children[it.value()].append(it.key());
    QList<qint64> tree{root};
    QSet<qint64> seen{root};
    for (qsizetype i = 0; i < tree.size(); ++i) {
        for (qint64 child : children.value(tree[i])) {
            if (!seen.contains(child)) { // pid reuse cannot make a cycle, but be safe
                seen.insert(child);
                tree.append(child);
            }
        }
    }
    return tree;
}

bool isAlive(qint64 pid)
{
    if (pid <= 0 || pid > std::numeric_limits<pid_t>::max() || (::kill(pid_t(pid), 0) != 0 && errno == ESRCH))
        return false;
    // A zombie whose parent died may wait long for its reaper; it runs no more.
    const auto s = engine::proc::stat(pid);
    return s && !s->zombie();
}

QList<qint64> processTree(qint64 root)
{
    return descendants(root, parentMap());
}

QList<qint64> groupAndDescendants(qint64 leader)
{
    QSet<qint64> found;
    QHash<qint64, qint64> parents;
    for (const engine::proc::Stat &s : engine::proc::allProcesses()) {
        if (s.zombie())
            continue;
        parents.insert(s.pid, s.ppid);
        if (s.group == leader)
            found.insert(s.pid);
    }
    for (qint64 pid : descendants(leader, parents))
        found.insert(pid);
    return {found.cbegin(), found.cend()};
}

QList<qint64> processesMentioning(const QByteArray &text)
{
    QList<qint64> pids;
    for (const engine::proc::Stat &s : engine::proc::allProcesses()) {
        const auto names = [&](const char *part) {
            return readHead(procPath(s.pid, part), qint64(1) << 20).contains(text);
        };
        if (isAlive(s.pid) && (names("environ") || names("cmdline")))
            pids.append(s.pid);
    }
    return pids;
}

QString executable(qint64 pid)
{
    return QFileInfo(procPath(pid, "exe")).symLinkTarget();
}

TreePss treePss(qint64 root)
{
    TreePss total;
    for (qint64 pid : processTree(root)) {
        if (const auto kb = kbField(readHead(procPath(pid, "smaps_rollup"), smallFileBytes), "Pss:")) {
            total.kb += *kb;
            ++total.processes;
        }
    }
    return total;
}

qint64 treeCpuTicks(qint64 root)
{
    const QList<qint64> tree = processTree(root);
    return std::accumulate(tree.cbegin(), tree.cend(), qint64(0), [](qint64 sum, qint64 pid) {
        const auto s = engine::proc::stat(pid);
        return s ? sum + s->cpuTicks : sum;
    });
}

std::optional<qint64> selfPeakRssKb()
{
    return kbField(readHead(QStringLiteral("/proc/self/status"), smallFileBytes), "VmHWM:");
}

std::optional<qint64> selfRssKb()
{
    return kbField(readHead(QStringLiteral("/proc/self/status"), smallFileBytes), "VmRSS:");
}

bool resetSelfPeakRss()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    return clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
}

QSet<quint64> listeningTcpInodes()
{
    QSet<quint64> inodes;
    for (const char *table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        const QList<QByteArray> lines = readHead(QString::fromLatin1(table), qint64(64) << 20).split('\n');
        for (qsizetype i = 1; i < lines.size(); ++i) { // after the header
            const QList<QByteArray> fields = lines[i].simplified().split(' ');
            // sl local rem st tx:rx tr:when retrnsmt uid timeout inode
            if (fields.size() > 9 && fields.at(3) == "0A")
                inodes.insert(fields.at(9).toULongLong());
        }
    }
    return inodes;
}

QSet<quint64> socketInodesOf(const QList<qint64> &pids)
{
    QSet<quint64> inodes;
    for (qint64 pid : pids) {
        const QDir fds(procPath(pid, "fd"));
        const QStringList entries = fds.entryList(QDir::System | QDir::NoDotAndDotDot);
        for (const QString &fd : entries) {
            const QString target = QFileInfo(fds.filePath(fd)).symLinkTarget();
            // readlink gives "socket:[12345]"; symLinkTarget makes it a path.
            const qsizetype open = target.lastIndexOf(QLatin1String("socket:["));
            if (open >= 0 && target.endsWith(QLatin1Char(']')))
                inodes.insert(target.mid(open + 8).chopped(1).toULongLong());
        }
    }
    return inodes;
}

QString cpuModel()
{
    const QList<QByteArray> lines = readHead(QStringLiteral("/proc/cpuinfo"), qint64(4) << 20).split('\n');
    const auto model = std::find_if(lines.cbegin(), lines.cend(),
                                    [](const QByteArray &line) { return line.startsWith("model name"); });
    return model == lines.cend() ? QString() : QString::fromUtf8(model->mid(model->indexOf(':') + 1).trimmed());
}

} // namespace procfs
