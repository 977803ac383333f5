#pragma once

#include "engine/profile_dir.h"

#include <QObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

#include <sys/types.h>

#include <functional>

namespace engine {

class Transport;

// One Chromium process: its private profile folder, its DevTools pipes on
// fds 3 and 4, its drained stderr. Ends the process and removes the folder
// when destroyed.
class ChromiumProcess final : public QObject
{
    Q_OBJECT
public:
    explicit ChromiumProcess(QObject *parent = nullptr);
    ~ChromiumProcess() override;

    // Launches executable with the few variables of environment it needs
    // and networkSwitches. Returns false with a Chinese *error when it could
    // not even be set up; a failed exec is reported later through exited().
    bool start(const QString &executable, const QProcessEnvironment &environment, const QStringList &networkSwitches,
               QString *error);

    Transport *transport() const { return m_transport; }
    qint64 processId() const { return m_process.processId(); }
    QString profilePath() const { return m_profile.path(); }
    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }
    // The last lines Chromium printed on stderr, for failure messages.
    QString stderrTail() const { return m_stderrLines.join(QLatin1Char('\n')); }

    // Runs then, in context, once an exiting process has ended or ms have
    // passed, with its stderr collected. Never blocks.
    void whenExited(int ms, QObject *context, std::function<void()> then);
    // How the process ended, or empty while it runs.
    QString exitDescription() const;
    // Waits up to graceMs for the process to leave by itself (after the caller
    // asked it to), then kills it; removes the profile folder. No exited().
    void stop(int graceMs);
    // Kills the process and deletes this object once it is gone (or after a
    // few seconds), removing the profile folder. Never blocks. No exited().
    void stopLater();

signals:
    // The process ended or could not be executed without stop() being asked.
    void exited(const QString &description);

private:
    void onStderr();
    void onFinished(int exitCode, QProcess::ExitStatus status);
    void onError(QProcess::ProcessError error);

    QProcess m_process;
    ProfileDir m_profile;
    Transport *m_transport = nullptr;
    QStringList m_stderrLines;
    QByteArray m_stderrPartial;
    pid_t m_group = 0; // Chromium's process group
    bool m_stopping = false;
    bool m_reported = false;
};

} // namespace engine
