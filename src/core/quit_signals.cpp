#include "core/quit_signals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace quit_signals {

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

} // namespace

QList<int> terminating()
{
    QList<int> all = {
        SIGHUP,    SIGINT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGIO, SIGPWR,
#ifdef SIGSTKFLT
        SIGSTKFLT,
#endif
    };
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig)
        all.append(sig);
    return all;
}

Watcher::Watcher(const QList<int> &watched, Restart restart, QObject *parent) : QObject(parent), m_watched(watched)
{
    // Non-blocking: a burst of signals must not block the handler on a full
    // socket.
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
    action.sa_flags = restart == Restart::Calls ? SA_RESTART : 0;
    for (const int sig : m_watched)
        sigaction(sig, &action, nullptr);
}

Watcher::~Watcher()
{
    for (const int sig : m_watched)
        std::signal(sig, SIG_DFL);
    delete m_notifier;
    ::close(wakeFds[0]);
    ::close(wakeFds[1]);
    wakeFds[0] = wakeFds[1] = -1;
}

int Watcher::received()
{
    return receivedSignal;
}

void Watcher::dieBy(int sig)
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

} // namespace quit_signals
