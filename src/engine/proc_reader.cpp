#include "engine/proc_reader.h"

#include <QFile>

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <unistd.h>

namespace engine::proc {

QByteArray readHead(const QString &path, qint64 maxBytes)
{
    // Plain system calls: the watch reads a few of these four times a second.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    QByteArray text;
    char buffer[4096];
    while (text.size() < maxBytes) {
        const ssize_t got = ::read(fd, buffer, size_t(std::min<qint64>(sizeof buffer, maxBytes - text.size())));
        if (got <= 0)
            break;
        text.append(buffer, got);
    }
    ::close(fd);
    return text;
}

QString procPath(qint64 pid, const char *name)
{
    return QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(name));
}

std::optional<Stat> parseStat(const QByteArray &text)
{
    const qsizetype close = text.lastIndexOf(')');
    const qsizetype open = text.indexOf('(');
    if (open <= 0 || close < open)
        return std::nullopt;
    bool ok = false;
    Stat line;
    line.pid = text.left(open).trimmed().toLongLong(&ok);
    if (!ok)
        return std::nullopt;
    // After the name: state(3) ppid(4) pgrp(5) ... utime(14) stime(15).
    const QList<QByteArray> fields = text.mid(close + 1).simplified().split(' ');
    if (fields.size() < 13 || fields[0].size() != 1)
        return std::nullopt;
    bool ppidOk = false, groupOk = false, userOk = false, systemOk = false;
    line.state = fields[0][0];
    line.ppid = fields[1].toLongLong(&ppidOk);
    line.group = fields[2].toLongLong(&groupOk);
    const qint64 user = fields[11].toLongLong(&userOk);
    const qint64 system = fields[12].toLongLong(&systemOk);
    if (!ppidOk || !groupOk || !userOk || !systemOk || user < 0 || system < 0
        || user > std::numeric_limits<qint64>::max() - system)
        return std::nullopt;
    line.cpuTicks = user + system;
    return line;
}

QList<qint64> processIds()
{
    QList<qint64> pids;
    DIR *proc = ::opendir("/proc");
    if (!proc)
        return pids;
    while (const dirent *entry = ::readdir(proc)) {
        char *end = nullptr;
        const long long pid = std::strtoll(entry->d_name, &end, 10);
        if (end != entry->d_name && *end == '\0' && pid > 0)
            pids.append(pid);
    }
    ::closedir(proc);
    return pids;
}

QList<Stat> allProcesses()
{
    QList<Stat> all;
    for (qint64 pid : processIds()) {
        if (const auto s = stat(pid))
            all.append(*s);
    }
    return all;
}

std::optional<Stat> stat(qint64 pid)
{
    return parseStat(readHead(procPath(pid, "stat"), smallFileBytes));
}

QByteArray commandLine(qint64 pid, qint64 maxBytes)
{
    return readHead(procPath(pid, "cmdline"), maxBytes);
}

qint64 residentBytes(qint64 pid)
{
    static const qint64 pageSize = ::sysconf(_SC_PAGESIZE);
    // statm: size resident ..., in pages. Resident with its shared part.
    const QList<QByteArray> statm = readHead(procPath(pid, "statm"), 256).split(' ');
    if (statm.size() < 2 || pageSize <= 0)
        return 0;
    const qint64 pages = statm.at(1).toLongLong();
    if (pages <= 0)
        return 0;
    return pages > std::numeric_limits<qint64>::max() / pageSize ? std::numeric_limits<qint64>::max()
                                                                 : pages * pageSize;
}

qint64 madeBytes(qint64 pid)
{
    const QByteArray status = readHead(procPath(pid, "status"), smallFileBytes);
    qint64 bytes = 0;
    for (const char *name : {"RssAnon:", "RssShmem:"}) {
        const auto kb = kbField(status, name);
        if (!kb || *kb < 0 || *kb > std::numeric_limits<qint64>::max() / 2048)
            return 0;
        bytes += *kb * 1024;
    }
    return bytes;
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

std::optional<qint64> availableMemory()
{
    const auto kb = kbField(readHead(QStringLiteral("/proc/meminfo"), smallFileBytes), "MemAvailable:");
    if (!kb || *kb < 0 || *kb > std::numeric_limits<qint64>::max() / 1024)
        return std::nullopt;
    return *kb * 1024;
}

} // namespace engine::proc
