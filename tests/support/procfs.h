#pragma once

#include "engine/proc_reader.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <optional>

// What /proc says about processes beyond the engine's own needs: for the
// tests and the bench, which watch Chromium's processes, memory and sockets.
// As in engine::proc, a process that ends between two readings reads as gone.
namespace procfs {

// The value in kB of a "Name:   123 kB" line, as the engine reads it.
using engine::proc::kbField;
// root and every process below it in the parent map (pid -> ppid), root first.
QList<qint64> descendants(qint64 root, const QHash<qint64, qint64> &parents);

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

// The path of the program pid runs; empty once gone.
QString executable(qint64 pid);

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

} // namespace procfs
