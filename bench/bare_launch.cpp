#include "bare_launch.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace bench {

namespace {

constexpr int replyTimeoutMs = 20000;

// A pipe whose ends sit above the descriptors the child gets, close-on-exec.
bool highPipe(int ends[2])
{
    int raw[2];
    if (::pipe(raw) != 0)
        return false;
    for (int i = 0; i < 2; ++i) {
        ends[i] = ::fcntl(raw[i], F_DUPFD_CLOEXEC, 10);
        ::close(raw[i]);
    }
    return ends[0] >= 0 && ends[1] >= 0;
}

} // namespace

QStringList bareSwitches(const QString &profile)
{
    QStringList switches{QStringLiteral("--headless"), QStringLiteral("--user-data-dir=") + profile};
    if (::geteuid() == 0)
        switches.append(QStringLiteral("--no-sandbox"));
    return switches;
}

std::optional<double> bareFirstReplyMs(const QString &executable, QString *error)
{
    QTemporaryDir profile;
    int commands[2] = {-1, -1};
    int replies[2] = {-1, -1};
    if (!profile.isValid() || !highPipe(commands) || !highPipe(replies)) {
        *error = QStringLiteral("no profile folder or pipe for the bare launch");
        return std::nullopt;
    }
    const QStringList arguments = bareSwitches(profile.path())
        + QStringList{QStringLiteral("--remote-debugging-pipe"), QStringLiteral("about:blank")};

    QProcess chromium;
    chromium.setProgram(executable);
    chromium.setArguments(arguments);
    chromium.setStandardOutputFile(QProcess::nullDevice());
    chromium.setStandardErrorFile(QProcess::nullDevice());
    // dup2 onto 3 and 4 clears close-on-exec there: Chromium reads commands
    // from 3 and writes to 4.
    // Its own process group, so none of its children outlives the row.
    chromium.setChildProcessModifier([commands, replies] {
        ::setpgid(0, 0);
        ::dup2(commands[0], 3);
        ::dup2(replies[1], 4);
    });

    QElapsedTimer clock;
    clock.start();
    chromium.start();
    ::close(commands[0]);
    ::close(replies[1]);
    std::optional<double> ms;
    static const char call[] = "{\"id\":1,\"method\":\"Browser.getVersion\"}";
    if (chromium.waitForStarted() && ::write(commands[1], call, sizeof call) == ssize_t(sizeof call)) {
        QByteArray answer;
        while (!answer.contains('\0') && clock.elapsed() < replyTimeoutMs) {
            pollfd in{replies[0], POLLIN, 0};
            if (::poll(&in, 1, 100) <= 0)
                continue;
            char buffer[4096];
            const ssize_t got = ::read(replies[0], buffer, sizeof buffer);
            if (got <= 0)
                break;
            answer.append(buffer, got);
        }
        if (answer.contains("\"id\":1"))
            ms = double(clock.nsecsElapsed()) / 1e6;
    }
    if (!ms)
        *error = QStringLiteral("the bare %1 gave no answer to its first call").arg(executable);
    // A closed pipe ends it as Browser.close would.
    ::close(commands[1]);
    ::close(replies[0]);
    const qint64 group = chromium.processId();
    if (!chromium.waitForFinished(3000))
        chromium.kill();
    chromium.waitForFinished(3000);
    if (group > 0)
        ::kill(pid_t(-group), SIGKILL);
    return ms;
}

} // namespace bench
