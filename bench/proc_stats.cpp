#include "proc_stats.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QThread>

#include <unistd.h>

namespace bench::proc {

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    // /proc files report size 0: read until the end, not by size.
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

QHash<qint64, qint64> parentMap()
{
    QHash<qint64, qint64> parents;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool numeric = false;
        entry.toLongLong(&numeric);
        if (!numeric)
            continue;
        if (const auto stat = parseStat(readAll(QStringLiteral("/proc/%1/stat").arg(entry))))
            parents.insert(stat->pid, stat->ppid);
    }
    return parents;
}

} // namespace

std::optional<StatLine> parseStat(const QByteArray &text)
{
    const qsizetype close = text.lastIndexOf(')');
    const qsizetype open = text.indexOf('(');
    if (open <= 0 || close < open)
        return std::nullopt;
    bool ok = false;
    StatLine line;
    line.pid = text.left(open).trimmed().toLongLong(&ok);
    if (!ok)
        return std::nullopt;
    // After the name: state(3) ppid(4) ... utime(14) stime(15).
    const QList<QByteArray> fields = text.mid(close + 1).simplified().split(' ');
    if (fields.size() < 13)
        return std::nullopt;
    bool ppidOk = false, userOk = false, systemOk = false;
    line.ppid = fields[1].toLongLong(&ppidOk);
    line.cpuTicks = fields[11].toLongLong(&userOk) + fields[12].toLongLong(&systemOk);
    if (!ppidOk || !userOk || !systemOk)
        return std::nullopt;
    return line;
}

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

std::optional<qint64> kbField(const QByteArray &text, const QByteArray &name)
{
    qsizetype at = 0;
    while ((at = text.indexOf(name, at)) >= 0) {
        if (at == 0 || text[at - 1] == '\n') {
            const qsizetype end = text.indexOf('\n', at);
            QByteArray value = text.mid(at + name.size(), end < 0 ? -1 : end - at - name.size()).trimmed();
            if (value.endsWith(" kB"))
                value.chop(3);
            bool ok = false;
            const qint64 kb = value.trimmed().toLongLong(&ok);
            if (ok)
                return kb;
            return std::nullopt;
        }
        at += name.size();
    }
    return std::nullopt;
}

QList<qint64> processTree(qint64 root)
{
    return descendants(root, parentMap());
}

TreePss treePss(qint64 root)
{
    TreePss total;
    for (qint64 pid : processTree(root)) {
        if (const auto kb = kbField(readAll(QStringLiteral("/proc/%1/smaps_rollup").arg(pid)), "Pss:")) {
            total.kb += *kb;
            ++total.processes;
        }
    }
    return total;
}

qint64 treeCpuTicks(qint64 root)
{
    qint64 ticks = 0;
    for (qint64 pid : processTree(root)) {
        if (const auto stat = parseStat(readAll(QStringLiteral("/proc/%1/stat").arg(pid))))
            ticks += stat->cpuTicks;
    }
    return ticks;
}

std::optional<qint64> selfPeakRssKb()
{
    return kbField(readAll(QStringLiteral("/proc/self/status")), "VmHWM:");
}

std::optional<qint64> selfRssKb()
{
    return kbField(readAll(QStringLiteral("/proc/self/status")), "VmRSS:");
}

QString machineDescription()
{
    const QByteArray cpuinfo = readAll(QStringLiteral("/proc/cpuinfo"));
    QString model = QStringLiteral("unknown CPU");
    for (const QByteArray &line : cpuinfo.split('\n')) {
        if (line.startsWith("model name")) {
            model = QString::fromUtf8(line.mid(line.indexOf(':') + 1).trimmed());
            break;
        }
    }
    return QStringLiteral("%1, %2 cores").arg(model).arg(QThread::idealThreadCount());
}

} // namespace bench::proc
