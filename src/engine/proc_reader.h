#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// What Linux's /proc says about processes, as far as the renderer watch needs
// it. Any process may end between two readings: whatever it no longer shows
// reads as gone, never as an error, and the text of any file is parsed
// without trusting its shape.
namespace engine::proc {

struct Stat
{
    qint64 pid = 0;
    char state = '?';
    qint64 ppid = 0;
    qint64 group = 0;
    qint64 cpuTicks = 0; // user + system time, in clock ticks

    bool zombie() const { return state == 'Z'; }
};

// Enough for the small files: a stat line, status, smaps_rollup.
inline constexpr qint64 smallFileBytes = qint64(64) << 10;

// At most maxBytes of the file at path; empty if it cannot be read. /proc
// files report size 0, so they are read until the end or the bound.
QByteArray readHead(const QString &path, qint64 maxBytes);
// /proc/<pid>/<name>
QString procPath(qint64 pid, const char *name);

// Parses the text of /proc/<pid>/stat. The command name may hold blanks and
// parentheses, so the fields are counted from its last ')'.
std::optional<Stat> parseStat(const QByteArray &text);

// The id of every process, as /proc lists them.
QList<qint64> processIds();
// Every process's stat line, zombies included.
QList<Stat> allProcesses();
std::optional<Stat> stat(qint64 pid);

// Arguments separated by NULs, at most maxBytes of them; empty once gone.
QByteArray commandLine(qint64 pid, qint64 maxBytes = qint64(1) << 20);
// Resident bytes, shared pages included; 0 once gone.
qint64 residentBytes(qint64 pid);
// Resident private and shared-memory bytes (RssAnon + RssShmem): what the
// process itself made, none of the files it maps; 0 once gone or a zombie.
qint64 madeBytes(qint64 pid);

// The value in kB of a "Name:   123 kB" line of /proc status-like text.
std::optional<qint64> kbField(const QByteArray &text, const QByteArray &name);
// What the kernel says can be had without swapping (MemAvailable).
std::optional<qint64> availableMemory();

} // namespace engine::proc
