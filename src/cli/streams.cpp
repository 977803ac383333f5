#include "cli/streams.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace cli {

namespace {

volatile std::sig_atomic_t receivedSignal = 0;
int wakeFds[2] = {-1, -1};

void onSignal(int sig)
{
    const int savedErrno = errno;
    if (receivedSignal == 0)
        receivedSignal = sig;
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(wakeFds[1], &byte, 1);
    errno = savedErrno;
}

constexpr int watchedSignals[] = {SIGINT, SIGTERM, SIGHUP};

} // namespace

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
            if (receivedSignal != 0)
                return WriteResult::Interrupted;
            break;
        case EAGAIN: {
            // A non-blocking descriptor inherited from our parent: wait for room.
            pollfd p{fd, POLLOUT, 0};
            if (::poll(&p, 1, -1) < 0 && errno == EINTR && receivedSignal != 0)
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

SignalWatcher::SignalWatcher(QObject *parent) : QObject(parent)
{
    std::signal(SIGPIPE, SIG_IGN);
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, wakeFds) != 0)
        return;
    m_notifier = new QSocketNotifier(wakeFds[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        char buffer[16];
        while (::read(wakeFds[0], buffer, sizeof buffer) > 0) {
        }
        emit caught(receivedSignal);
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a write blocked on a reader that stopped reading must
    // return, so that an interrupt can end the program.
    action.sa_flags = 0;
    for (const int sig : watchedSignals)
        sigaction(sig, &action, nullptr);
}

SignalWatcher::~SignalWatcher()
{
    for (const int sig : watchedSignals)
        std::signal(sig, SIG_DFL);
    delete m_notifier;
    ::close(wakeFds[0]);
    ::close(wakeFds[1]);
    wakeFds[0] = wakeFds[1] = -1;
}

int SignalWatcher::received()
{
    return receivedSignal;
}

void SignalWatcher::dieBy(int sig)
{
    std::signal(sig, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    ::raise(sig);
    // A signal whose default is to go on (none of ours) lands here.
    ::_exit(128 + sig);
}

} // namespace cli
