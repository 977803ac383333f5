#include "cli/streams.h"

#include "core/quit_signals.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace cli {

bool guardStandardStreams()
{
    bool stdoutClosed = false;
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF)
            continue;
        // The lowest free number is fd itself.
        if (::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) != fd)
            ::_exit(2);
        if (fd == STDOUT_FILENO)
            stdoutClosed = true;
    }
    return stdoutClosed;
}

void endStandardOutput()
{
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null < 0)
        return;
    ::dup2(null, STDOUT_FILENO);
    ::close(null);
}

WriteResult writeAll(int fd, const QByteArray &bytes)
{
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, size_t(left));
        if (n >= 0) {
            data += n;
            left -= n;
            continue;
        }
        switch (errno) {
        case EINTR:
            if (quit_signals::Watcher::received() != 0)
                return WriteResult::Interrupted;
            break;
        case EAGAIN: {
            // A non-blocking descriptor inherited from our parent: wait for room.
            pollfd p{fd, POLLOUT, 0};
            if (::poll(&p, 1, -1) < 0 && errno == EINTR && quit_signals::Watcher::received() != 0)
                return WriteResult::Interrupted;
            break;
        }
        case EPIPE:
            return WriteResult::Closed;
        default:
            return WriteResult::Failed;
        }
    }
    return WriteResult::Written;
}

bool readerGone(int fd)
{
    // Without asking for any event, poll still reports POLLERR on a pipe
    // whose reader has gone and POLLHUP on a shut-down socket.
    pollfd p{fd, 0, 0};
    if (::poll(&p, 1, 0) <= 0)
        return false;
    return (p.revents & (POLLERR | POLLHUP)) != 0;
}

} // namespace cli
