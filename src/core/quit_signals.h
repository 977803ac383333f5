#pragma once

#include <QList>
#include <QObject>

class QSocketNotifier;

// Signals that ask a program to end, turned into a signal of its event loop,
// so that it shuts the engine down and removes its profile folder on the
// way out. The handler only writes a byte to a socket pair that a notifier
// reads. POSIX only.
namespace quit_signals {

enum class Restart {
    Calls, // SA_RESTART: system calls a signal interrupts go on
    None,  // a blocked write returns with EINTR, so an interrupt can end it
};

// Every signal whose default action ends the process without a core dump:
// whoever sends one wants the program gone, and going by the default would
// leave Chromium running and its profile folder behind. The fault signals stay
// uncaught: a program that took one has nothing sound left to shut down with.
QList<int> terminating();

// One per process.
class Watcher final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Watcher)
public:
    Watcher(const QList<int> &watched, Restart restart, QObject *parent = nullptr);
    // Gives the watched signals their default actions back.
    ~Watcher() override;

    // The first watched signal received, or 0.
    static int received();

    // Ends the process by sig with its default action, as if it had never
    // been caught: a shell then sees how the program really ended.
    [[noreturn]] static void dieBy(int sig);

signals:
    void caught(int sig);

private:
    QList<int> m_watched;
    QSocketNotifier *m_notifier = nullptr;
};

} // namespace quit_signals
