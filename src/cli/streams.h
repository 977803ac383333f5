#pragma once

#include <QByteArray>
#include <QObject>

class QSocketNotifier;

// The standard streams and signals of a program that must shut its engine
// down cleanly whatever happens around it: a reader that leaves the pipe, an
// interrupt while a write is blocked, a terminal that goes away.
namespace cli {

enum class WriteResult {
    Written,
    Closed,      // the reader has left (EPIPE)
    Interrupted, // a watched signal arrived while the write waited
    Failed,      // anything else; errno says what
};

// Puts /dev/null on whichever of descriptors 0, 1 and 2 is closed, before
// anything else can be given that number and receive what is meant for the
// stream (a pipe to Chromium, say). Call it first thing. Returns whether
// standard output was closed.
bool guardStandardStreams();

// Closes standard output, leaving /dev/null in its place: its reader sees
// the end at once, not only once Chromium has shut down.
void endStandardOutput();

// Writes all of bytes to fd, however many calls it takes.
WriteResult writeAll(int fd, const QByteArray &bytes);

// True when fd is a pipe or socket whose reading end has been closed, so
// nothing written to it will ever be read. Never blocks.
bool readerGone(int fd);

// Turns SIGINT, SIGTERM and SIGHUP into a signal of the event loop, and lets
// a blocked write give up when one arrives. SIGPIPE is ignored: a reader
// leaving shows as a failed write instead of killing the process before the
// engine is shut down. One per process.
class SignalWatcher final : public QObject
{
    Q_OBJECT
public:
    explicit SignalWatcher(QObject *parent = nullptr);
    ~SignalWatcher() override;

    // The first watched signal received, or 0.
    static int received();

    // Ends the process by sig with its default action, as if it had never
    // been caught: a shell then sees how the program really ended.
    [[noreturn]] static void dieBy(int sig);

signals:
    void caught(int sig);

private:
    QSocketNotifier *m_notifier = nullptr;
};

} // namespace cli
