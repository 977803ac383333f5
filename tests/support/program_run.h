#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSignalSpy>
#include <QString>
#include <QStringList>

#include <functional>

// One run of a program, waited for in an event loop, so that a page server
// living in the test's own thread goes on answering meanwhile.
struct ProgramRun
{
    bool finished = false; // false: still running after the wait, and killed
    QProcess::ExitStatus status = QProcess::NormalExit;
    int code = -1; // exit code, or the signal that ended it
    QByteArray out;
    QByteArray err;

    QStringList errLines() const { return QString::fromUtf8(err).split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
};

// started is called once the process runs, with its id; input is all its
// standard input gets.
inline ProgramRun runProgram(const QString &program, const QStringList &arguments,
                             const QProcessEnvironment &environment, int waitMs,
                             const std::function<void(qint64)> &started = {}, const QByteArray &input = {})
{
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setProcessEnvironment(environment);
    QSignalSpy done(&process, &QProcess::finished);
    process.start();
    ProgramRun run;
    if (!process.waitForStarted(10000))
        return run;
    process.write(input);
    process.closeWriteChannel();
    if (started)
        started(process.processId());
    run.finished = done.count() > 0 || done.wait(waitMs);
    if (!run.finished) {
        process.kill();
        process.waitForFinished(5000);
    }
    run.status = process.exitStatus();
    run.code = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

// An environment as a user's shell might give it, without a display: the
// extractor must need none.
inline QProcessEnvironment plainEnvironment(const QString &tmpDir)
{
    QProcessEnvironment environment;
    const QProcessEnvironment system = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"PATH", "HOME", "LANG", "LC_ALL", "VELMORA_CHROMIUM"}) {
        const QString key = QLatin1String(name);
        if (system.contains(key))
            environment.insert(key, system.value(key));
    }
    environment.insert(QStringLiteral("TMPDIR"), tmpDir);
    return environment;
}
