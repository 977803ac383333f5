#pragma once

#include <QList>
#include <QSet>
#include <QString>

// What /proc says about the Chromium processes of one profile folder.
namespace probe {

// Every process whose environment has HOME=profilePath: Chromium and all the
// helpers it spawned inherit it.
QList<int> processesOfProfile(const QString &profilePath);
// Socket inodes in LISTEN state, TCP over IPv4 and IPv6.
QSet<quint64> listeningTcpInodes();
// Socket inodes held open by the given processes.
QSet<quint64> socketInodesOf(const QList<int> &pids);
// Running, as opposed to gone or a zombie.
bool isAlive(qint64 pid);

} // namespace probe
