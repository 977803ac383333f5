// velmora-extract: the window's extraction for shell pipelines.
#include "cli/extractor.h"
#include "cli/options.h"
#include "cli/streams.h"
#include "core/harvest.h"
#include "core/quit_signals.h"
#include "core/save_file.h"
#include "engine/chromium_browser.h"
#include "velmora_config.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>
#include <unistd.h>

namespace {

enum ExitStatus {
    AllRead = 0,
    SomeFailed = 1,
    Unusable = 2
};

// The engine's causes may span lines (Chromium's last words when it fails
// to start): they are joined by " | ".
QString joinedLines(const QString &text)
{
    QString joined = text;
    joined.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(u'\r', u'\n');
    return harvest::encodeControls(joined.split(u'\n', Qt::SkipEmptyParts).join(QLatin1String(" | ")));
}

// An address quoted in a diagnostic keeps it one line whatever it holds:
// control characters become their %XX code, as in a URL.
void complain(const QString &subject, const QString &cause)
{
    const QString line = QStringLiteral("velmora-extract: ")
        + (subject.isEmpty() ? QString() : harvest::encodeControls(subject) + QLatin1String(": ")) + joinedLines(cause)
        + u'\n';
    cli::writeAll(STDERR_FILENO, line.toUtf8());
}

// Links go out as UTF-8, one a line, each address's in one write: a reader
// sees them as soon as the page is read.
class StandardOutput final : public cli::Sink
{
public:
    bool links(const QStringList &links) override
    {
        QByteArray bytes;
        for (const QString &link : links) {
            bytes += link.toUtf8();
            bytes += '\n';
        }
        result = cli::writeAll(STDOUT_FILENO, bytes);
        error = errno;
        return result == cli::WriteResult::Written;
    }
    void failure(const QString &address, const QString &cause) override { complain(address, cause); }

    cli::WriteResult result = cli::WriteResult::Written;
    int error = 0;
};

// Gathers the links for the file written once every address is done.
class FileOutput final : public cli::Sink
{
public:
    bool links(const QStringList &links) override
    {
        all += links;
        return true;
    }
    void failure(const QString &address, const QString &cause) override { complain(address, cause); }

    QStringList all;
};

int usage(const QString &problem)
{
    complain({}, problem);
    cli::writeAll(STDERR_FILENO, "Try 'velmora-extract --help' for more information.\n");
    return Unusable;
}

} // namespace

int main(int argc, char *argv[])
{
    const bool stdoutClosed = cli::guardStandardStreams();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velmora-extract"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELMORA_VERSION));

    const cli::ParsedArguments parsed = cli::parseArguments(QCoreApplication::arguments());
    if (stdoutClosed && parsed.kind != cli::ParsedArguments::Kind::Error && parsed.options.output.isEmpty()) {
        complain({}, QStringLiteral("standard output is closed"));
        return Unusable;
    }
    switch (parsed.kind) {
    case cli::ParsedArguments::Kind::Help:
    case cli::ParsedArguments::Kind::Version:
        return cli::writeAll(STDOUT_FILENO, parsed.text.toUtf8()) == cli::WriteResult::Written ? 0 : Unusable;
    case cli::ParsedArguments::Kind::Error:
        return usage(parsed.text);
    case cli::ParsedArguments::Kind::Run:
        break;
    }
    const cli::Options &options = parsed.options;

    // A reader leaving shows as a failed write instead of killing the process
    // before the engine is shut down.
    std::signal(SIGPIPE, SIG_IGN);
    // No restart: a write blocked on a reader that stopped reading must
    // return, so that an interrupt can end the program.
    quit_signals::Watcher watcher({SIGINT, SIGTERM, SIGHUP}, quit_signals::Restart::None);
    StandardOutput standardOutput;
    FileOutput fileOutput;
    cli::Sink *sink = &standardOutput;
    if (!options.output.isEmpty())
        sink = &fileOutput;

    engine::ChromiumOptions engineOptions;
    engineOptions.settleMs = options.settleMs;
    auto browser = std::make_unique<engine::ChromiumBrowser>(engineOptions);
    cli::Extractor extractor(*browser, options, *sink);
    QObject::connect(browser.get(), &engine::ChromiumBrowser::ready, &extractor, &cli::Extractor::engineReady);
    auto outcome = cli::Extractor::Outcome::AllRead;
    QObject::connect(&extractor, &cli::Extractor::finished, &app, [&outcome](cli::Extractor::Outcome o) {
        outcome = o;
        QCoreApplication::exit(0);
    });
    QObject::connect(&watcher, &quit_signals::Watcher::caught, &app, [] { QCoreApplication::exit(0); });
    // A pipe whose reader has left reports an error condition: stop at once
    // rather than at the next write, which a page that never finishes
    // loading would put off until its timeout.
    QSocketNotifier readerWatch(STDOUT_FILENO, QSocketNotifier::Exception);
    readerWatch.setEnabled(options.output.isEmpty());
    QObject::connect(&readerWatch, &QSocketNotifier::activated, &extractor, [&] {
        if (!cli::readerGone(STDOUT_FILENO))
            return;
        readerWatch.setEnabled(false);
        standardOutput.result = cli::WriteResult::Closed;
        extractor.stop(cli::Extractor::Outcome::OutputLost);
    });
    extractor.start();
    QCoreApplication::exec();

    // Chromium goes first, whatever ended the run: no process and no profile
    // folder may outlive us. What it says while closing concerns no address.
    QObject::disconnect(browser.get(), nullptr, &extractor, nullptr);
    if (outcome == cli::Extractor::Outcome::AllRead || outcome == cli::Extractor::Outcome::SomeFailed)
        cli::endStandardOutput();
    browser.reset();

    if (const int sig = quit_signals::Watcher::received())
        quit_signals::Watcher::dieBy(sig);

    switch (outcome) {
    case cli::Extractor::Outcome::EngineUnusable:
        return Unusable;
    case cli::Extractor::Outcome::OutputLost:
        if (standardOutput.result == cli::WriteResult::Closed)
            quit_signals::Watcher::dieBy(SIGPIPE); // as any filter ends when its reader leaves
        complain(QStringLiteral("standard output"), QString::fromLocal8Bit(std::strerror(standardOutput.error)));
        return Unusable;
    case cli::Extractor::Outcome::AllRead:
    case cli::Extractor::Outcome::SomeFailed:
        break;
    }

    if (!options.output.isEmpty()) {
        const QString path = save_file::withTxtSuffix(options.output);
        const QString error = save_file::writeLinkFile(path, fileOutput.all);
        if (!error.isEmpty()) {
            complain(path, error);
            return Unusable;
        }
    }
    return outcome == cli::Extractor::Outcome::AllRead ? AllRead : SomeFailed;
}
