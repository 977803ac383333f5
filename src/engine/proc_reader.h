#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <optional>

// What Linux's /proc says about processes. Any process may end between two
// readings: whatever it no longer shows reads as gone, never as an error, and
// the text of any file is parsed without trusting its shape.
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

// Parses the text of /proc/<pid>/stat. The command name may hold blanks and
// parentheses, so the fields are counted from its last ')'.
std::optional<Stat> parseStat(const QByteArray &text);
// The value in kB of a "Name:   123 kB" line of /proc status-like text.
std::optional<qint64> kbField(const QByteArray &text, const QByteArray &name);
// root and every process below it in the parent map (pid -> ppid), root first.
QList<qint64> descendants(qint64 root, const QHash<qint64, qint64> &parents);

// Every process's stat line, zombies included.
QList<Stat> allProcesses();
std::optional<Stat> stat(qint64 pid);
// Running, as opposed to gone or a zombie.
bool isAlive(qint64 pid);
// The process tree under root as it is now, zombies included (root first;
// empty if root is gone).
QList<qint64> processTree(qint64 root);
// A process group leader and the processes it started, found by kinship: its
// group and its running descendants that left it. Still finds the group once
// the leader itself is gone.
QList<qint64> groupAndDescendants(qint64 leader);
// Every running process that names text in its environment or on its command line.
QList<qint64> processesMentioning(const QByteArray &text);

// Arguments separated by NULs, at most maxBytes of them; empty once gone.
QByteArray commandLine(qint64 pid, qint64 maxBytes = qint64(1) << 20);
// The path of the program pid runs; empty once gone.
QString executable(qint64 pid);
// Resident bytes, shared pages included; 0 once gone.
qint64 residentBytes(qint64 pid);

// Summed proportional set size of the tree under root, in kB, and how many processes it has.
struct TreePss
{
    qint64 kb = 0;
    int processes = 0;
};
TreePss treePss(qint64 root);
// Summed CPU time of the tree under root, in clock ticks.
qint64 treeCpuTicks(qint64 root);

// This process's peak and current resident size, in kB.
std::optional<qint64> selfPeakRssKb();
std::optional<qint64> selfRssKb();
// Restarts this process's peak from its current resident size (Linux 4.0 on).
bool resetSelfPeakRss();

// Socket inodes in LISTEN state, TCP over IPv4 and IPv6.
QSet<quint64> listeningTcpInodes();
// Socket inodes held open by the given processes.
QSet<quint64> socketInodesOf(const QList<qint64> &pids);

// The "model name" of the first CPU in /proc/cpuinfo; empty if none is given.
QString cpuModel();

} // namespace engine::proc
