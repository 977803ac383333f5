#include "process_probe.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMultiHash>

#include <cerrno>
#include <csignal>

namespace probe {

namespace {

struct Kin
{
    int parent = 0;
    int group = 0;
};

// Parent and process group of every running process; zombies run no more.
QHash<int, Kin> runningProcesses()
{
    QHash<int, Kin> all;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool ok = false;
        const int pid = entry.toInt(&ok);
        if (!ok)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // pid (comm) state ppid pgrp ...; comm may hold blanks and parentheses.
        const QByteArray line = stat.readAll();
        const qsizetype close = line.lastIndexOf(')');
        const QList<QByteArray> fields = line.mid(close + 2).split(' ');
        if (close < 0 || fields.size() < 3 || fields.at(0) == "Z")
            continue;
        all.insert(pid, {fields.at(1).toInt(), fields.at(2).toInt()});
    }
    return all;
}

} // namespace

QList<int> processesOfChromium(qint64 chromiumPid)
{
    const QHash<int, Kin> all = runningProcesses();
    QMultiHash<int, int> children;
    QSet<int> found;
    for (auto it = all.cbegin(); it != all.cend(); ++it) {
        children.insert(it->parent, it.key());
        if (it->group == int(chromiumPid))
            found.insert(it.key());
    }
    if (all.contains(int(chromiumPid)))
        found.insert(int(chromiumPid));
    QList<int> pending{int(chromiumPid)};
    QSet<int> visited;
    while (!pending.isEmpty()) {
        const int pid = pending.takeLast();
        for (auto it = children.constFind(pid); it != children.cend() && it.key() == pid; ++it) {
            found.insert(it.value());
            if (!visited.contains(it.value())) {
                visited.insert(it.value());
                pending.append(it.value());
            }
        }
    }
    return {found.cbegin(), found.cend()};
}

QList<int> processesMentioning(const QString &profilePath)
{
    const QByteArray path = QFile::encodeName(profilePath);
    QList<int> pids;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool ok = false;
        const int pid = entry.toInt(&ok);
        if (!ok || !isAlive(pid))
            continue;
        for (const char *part : {"environ", "cmdline"}) {
            QFile file(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(part)));
            if (file.open(QIODevice::ReadOnly) && file.readAll().contains(path)) {
                pids.append(pid);
                break;
            }
        }
    }
    return pids;
}

QString commandLine(int pid)
{
    QFile file(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(file.readAll().replace('\0', ' ').trimmed());
}

QSet<quint64> listeningTcpInodes()
{
    QSet<quint64> inodes;
    for (const char *table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        QFile file(QString::fromLatin1(table));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        file.readLine(); // header
        while (!file.atEnd()) {
            const QList<QByteArray> fields = file.readLine().simplified().split(' ');
            // sl local rem st tx:rx tr:when retrnsmt uid timeout inode
            if (fields.size() > 9 && fields.at(3) == "0A")
                inodes.insert(fields.at(9).toULongLong());
        }
    }
    return inodes;
}

QSet<quint64> socketInodesOf(const QList<int> &pids)
{
    QSet<quint64> inodes;
    for (int pid : pids) {
        const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
        const QStringList entries = fds.entryList(QDir::System | QDir::NoDotAndDotDot);
        for (const QString &fd : entries) {
            const QString target = QFileInfo(fds.filePath(fd)).symLinkTarget();
            // readlink gives "socket:[12345]"; symLinkTarget makes it a path.
            const qsizetype open = target.lastIndexOf(QLatin1String("socket:["));
            if (open >= 0)
                inodes.insert(target.mid(open + 8).chopped(1).toULongLong());
        }
    }
    return inodes;
}

bool isAlive(qint64 pid)
{
    if (pid <= 0 || (::kill(pid_t(pid), 0) != 0 && errno == ESRCH))
        return false;
    // A zombie whose parent died may wait long for its reaper; it runs no more.
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    return close < 0 || line.mid(close + 2, 1) != "Z";
}

} // namespace probe
