#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <optional>

// Readings of /proc for the memory and idle measurements (Linux only).
namespace bench::proc {

struct StatLine
{
    qint64 pid = 0;
    qint64 ppid = 0;
    qint64 cpuTicks = 0; // user + system time, in clock ticks
};

// Parses the text of /proc/<pid>/stat. The command name may hold blanks and
// parentheses, so the fields are counted from its last ')'.
std::optional<StatLine> parseStat(const QByteArray &text);

// root and every process below it in the parent map (pid -> ppid), root first.
QList<qint64> descendants(qint64 root, const QHash<qint64, qint64> &parents);

// The value in kB of a "Name:   123 kB" line of /proc status-like text.
std::optional<qint64> kbField(const QByteArray &text, const QByteArray &name);

// The live process tree under root (root included; empty if root is gone).
QList<qint64> processTree(qint64 root);
// Summed proportional set size of the tree, in kB, and how many processes it has.
struct TreePss
{
    qint64 kb = 0;
    int processes = 0;
};
TreePss treePss(qint64 root);
// Summed CPU time of the tree, in clock ticks.
qint64 treeCpuTicks(qint64 root);

// This process's peak and current resident size, in kB.
std::optional<qint64> selfPeakRssKb();
std::optional<qint64> selfRssKb();

// "AMD EPYC, 2 cores" from /proc/cpuinfo.
QString machineDescription();

} // namespace bench::proc
