#pragma once

#include <QList>
#include <QSet>
#include <QString>

// What /proc says about the Chromium processes of one profile folder.
namespace probe {

// Chromium and the processes it started, found by kinship: its process group
// (Chromium leads one of its own) and its descendants that left it. Still
// finds the group once Chromium itself is gone. Never by environment:
// Chromium overwrites it when it sets its process titles.
QList<int> processesOfChromium(qint64 chromiumPid);
// Every process that names profilePath in its environment or on its command
// line: also finds helpers that left Chromium's process group and cleared
// their environment, as crash reporters may.
QList<int> processesMentioning(const QString &profilePath);
// The command line of pid, arguments separated by spaces; empty once gone.
QString commandLine(int pid);
// Socket inodes in LISTEN state, TCP over IPv4 and IPv6.
QSet<quint64> listeningTcpInodes();
// Socket inodes held open by the given processes.
QSet<quint64> socketInodesOf(const QList<int> &pids);
// Running, as opposed to gone or a zombie.
bool isAlive(qint64 pid);

} // namespace probe
