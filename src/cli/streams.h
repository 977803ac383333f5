#pragma once

#include <QByteArray>

// The standard streams of a program that must shut its engine down cleanly
// whatever happens around it: a reader that leaves the pipe, an interrupt
// while a write is blocked (quit_signals::Watcher, without restart), a
// terminal that goes away.
namespace cli {

enum class WriteResult {
    Written,
    Closed,      // the reader has left (EPIPE)
    Interrupted, // a quit signal arrived while the write waited
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

} // namespace cli
