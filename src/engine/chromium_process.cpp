#include "engine/chromium_process.h"

#include "engine/command_line.h"
#include "engine/pipe_transport.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcessEnvironment>
#include <QTimer>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <linux/close_range.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace engine {

namespace {

constexpr int keptStderrLines = 12;
// How long a killed Chromium gets to be reaped before we stop waiting.
constexpr int killWaitMs = 3000;

// Moves fd above the range the child dup2s onto (3 and 4): dup2(fd, fd) would
// keep close-on-exec and the child would lose its pipe.
int moveHigh(int fd)
{
    const int high = ::fcntl(fd, F_DUPFD_CLOEXEC, 10);
    ::close(fd);
    return high;
}

bool makePipe(std::array<int, 2> &ends)
{
    int raw[2];
    if (::pipe2(raw, O_CLOEXEC) != 0)
        return false;
    ends[0] = moveHigh(raw[0]);
    ends[1] = moveHigh(raw[1]);
    return ends[0] >= 0 && ends[1] >= 0;
}

void closeIfOpen(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// An engine for untrusted pages has no business on the user's desktop: with
// the session bus address Chromium starts the accessibility bus and asks
// UPower, and a display or runtime folder would open more doors. It gets what
// it needs to run and to speak the user's language; HOME is the private
// folder, where it writes crash reports, dconf and downloads despite
// --user-data-dir, so all of it goes when the folder does. Its temporary
// files go there too: the full browser keeps its single-instance socket in
// TMPDIR, and a killed or hung Chromium would leave that folder behind.
// Proxies reach it as switches: http_proxy may hold a password.
QProcessEnvironment childEnvironment(const QProcessEnvironment &from, const QString &home, const QString &temp)
{
    QProcessEnvironment env;
    const QStringList keys = from.keys();
    for (const QString &key : keys) {
        if (key == QLatin1String("PATH") || key == QLatin1String("LANG") || key.startsWith(QLatin1String("LC_")))
            env.insert(key, from.value(key));
    }
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("TMPDIR"), temp);
    return env;
}

} // namespace

ChromiumProcess::ChromiumProcess(QObject *parent) : QObject(parent)
{
    connect(&m_process, &QProcess::readyReadStandardError, this, &ChromiumProcess::onStderr);
    connect(&m_process, &QProcess::finished, this, &ChromiumProcess::onFinished);
    connect(&m_process, &QProcess::errorOccurred, this, &ChromiumProcess::onError);
}

ChromiumProcess::~ChromiumProcess()
{
    stop(0);
}

bool ChromiumProcess::start(const QString &executable, const QProcessEnvironment &environment,
                            const QStringList &networkSwitches, QString *error)
{
    ProfileDir::removeStale(QDir::tempPath());
    QString why;
    if (!m_profile.create(QDir::tempPath(), &why)) {
        *error = QCoreApplication::translate("engine", "无法创建 Chromium 的临时配置文件夹（%1），Chromium 无法启动。")
                     .arg(why);
        return false;
    }

    // commands: we write [1], Chromium reads [0] as fd 3.
    // replies:  Chromium writes [1] as fd 4, we read [0].
    std::array<int, 2> commands{-1, -1};
    std::array<int, 2> replies{-1, -1};
    if (!makePipe(commands) || !makePipe(replies)) {
        *error = QCoreApplication::translate("engine", "无法创建与 Chromium 通信的管道（%1），Chromium 无法启动。")
                     .arg(QString::fromLocal8Bit(std::strerror(errno)));
        for (int *fd : {&commands[0], &commands[1], &replies[0], &replies[1]})
            closeIfOpen(*fd);
        m_profile.remove();
        return false;
    }

    m_process.setProcessEnvironment(childEnvironment(environment, m_profile.path(), m_profile.tempPath()));
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.setStandardInputFile(QProcess::nullDevice());
    m_process.setProgram(executable);
    m_process.setArguments(chromiumArguments(m_profile.path(), ::geteuid() == 0, networkSwitches));

    const int childIn = commands[0];
    const int childOut = replies[1];
    const pid_t parentPid = ::getpid();
    // Runs in the child between fork and exec: async-signal-safe calls only.
    m_process.setChildProcessModifier([childIn, childOut, parentPid] {
        // Its own process group, so stop() can end every helper Chromium
        // spawned before the profile folder is removed.
        ::setpgid(0, 0);
        ::dup2(childIn, 3);
        ::dup2(childOut, 4);
        ::close_range(5, ~0U, CLOSE_RANGE_CLOEXEC);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parentPid) // the app died before prctl took hold
            ::_exit(127);
        ::signal(SIGPIPE, SIG_DFL);
    });

    m_stderrLines.clear();
    m_stderrPartial.clear();
    m_stopping = false;
    m_reported = false;
    m_process.start(QIODevice::ReadOnly);
    m_group = pid_t(m_process.processId());
    closeIfOpen(commands[0]);
    closeIfOpen(replies[1]);

    delete m_transport;
    m_transport = new PipeTransport(replies[0], commands[1], this);
    return true;
}

void ChromiumProcess::onStderr()
{
    m_stderrPartial.append(m_process.readAllStandardError());
    qsizetype newline;
    while ((newline = m_stderrPartial.indexOf('\n')) >= 0) {
        const QString line = QString::fromLocal8Bit(m_stderrPartial.left(newline)).trimmed();
        m_stderrPartial.remove(0, newline + 1);
        if (line.isEmpty())
            continue;
        m_stderrLines.append(line);
        if (m_stderrLines.size() > keptStderrLines)
            m_stderrLines.removeFirst();
    }
}

QString ChromiumProcess::exitDescription() const
{
    if (m_process.error() == QProcess::FailedToStart)
        return QCoreApplication::translate("engine", "无法运行 Chromium（%1）").arg(m_process.errorString());
    if (m_process.state() != QProcess::NotRunning)
        return {};
    if (m_process.exitStatus() == QProcess::CrashExit)
        return QCoreApplication::translate("engine", "Chromium 意外终止");
    return QCoreApplication::translate("engine", "Chromium 已退出（退出码 %1）").arg(m_process.exitCode());
}

void ChromiumProcess::onFinished(int, QProcess::ExitStatus)
{
    onStderr();
    if (m_stopping || m_reported)
        return;
    m_reported = true;
    emit exited(exitDescription());
}

void ChromiumProcess::onError(QProcess::ProcessError error)
{
    if (error != QProcess::FailedToStart || m_stopping || m_reported)
        return;
    m_reported = true;
    emit exited(exitDescription());
}

void ChromiumProcess::whenExited(int ms, QObject *context, std::function<void()> then)
{
    auto once = std::make_shared<std::function<void()>>(std::move(then));
    auto run = [this, once] {
        if (!*once)
            return;
        onStderr();
        std::exchange(*once, {})();
    };
    if (m_process.state() == QProcess::NotRunning) {
        QTimer::singleShot(0, context, run);
        return;
    }
    connect(&m_process, &QProcess::finished, context, run, Qt::SingleShotConnection);
    QTimer::singleShot(ms, context, run);
}

void ChromiumProcess::stopLater()
{
    m_stopping = true;
    if (m_transport)
        m_transport->close();
    auto finish = [this] {
        stop(0);
        deleteLater();
    };
    if (m_process.state() == QProcess::NotRunning)
        return finish();
    m_process.kill();
    // Its helpers go with the group; the folder once the browser is gone.
    if (m_group > 0)
        ::kill(-m_group, SIGKILL);
    connect(&m_process, &QProcess::finished, this, finish, Qt::SingleShotConnection);
    QTimer::singleShot(killWaitMs, this, finish);
}

void ChromiumProcess::stop(int graceMs)
{
    m_stopping = true;
    if (m_transport)
        m_transport->close();
    if (m_process.state() != QProcess::NotRunning) {
        if (graceMs <= 0 || !m_process.waitForFinished(graceMs)) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }
    // Renderers and helpers may outlive a killed browser process for a
    // moment and keep writing into the folder.
    if (m_group > 0)
        ::kill(-m_group, SIGKILL);
    m_group = 0;
    m_profile.remove();
}

} // namespace engine
