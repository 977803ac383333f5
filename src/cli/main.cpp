// velmora-extract: the window's extraction for shell pipelines.
#include "cli/extractor.h"
#include "cli/input.h"
#include "cli/messages.h"
#include "cli/options.h"
#include "cli/output.h"
#include "cli/streams.h"
#include "core/address.h"
#include "core/harvest.h"
#include "core/quit_signals.h"
#include "core/save_file.h"
#include "engine/chromium_browser.h"
#include "velmora_config.h"

#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>

#include <algorithm>
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

// An address quoted in a diagnostic keeps it one short line whatever it
// holds: control characters become their %XX code, as in a URL, and a long
// one is elided in the middle.
void complain(const QString &subject, const QString &cause)
{
    const QString line = QStringLiteral("velmora-extract: ")
        + (subject.isEmpty() ? QString() : address::elided(subject) + QLatin1String(": ")) + joinedLines(cause) + u'\n';
    cli::writeAll(STDERR_FILENO, line.toUtf8());
}

// Each address's outcome goes out in one write as soon as it is its turn,
// so a reader sees a page's links as soon as they are read; with --output
// the same bytes are gathered for the file.
class Output final : public cli::Sink
{
public:
    explicit Output(const cli::Options &options) : m_options(options) {}

    bool deliver(const cli::PageOutcome &outcome) override
    {
        if (outcome.failed() && !m_options.quiet)
            complain(outcome.page, outcome.error);
        if (!outcome.cut.isEmpty() && !m_options.quiet)
            complain(outcome.page, outcome.cut);
        const QByteArray bytes = cli::formatted(outcome, m_options.format);
        if (!m_options.toStandardOutput()) {
            file += bytes;
            return true;
        }
        result = cli::writeAll(STDOUT_FILENO, bytes);
        error = errno;
        return result == cli::WriteResult::Written;
    }

    void warn(const QString &page, const QString &message) override
    {
        if (!m_options.quiet)
            complain(page, message);
    }

    QByteArray file;
    cli::WriteResult result = cli::WriteResult::Written;
    int error = 0;

private:
    const cli::Options &m_options;
};

// The addresses of the arguments, then those of --input.
bool gatherAddresses(const cli::Options &options, QStringList &addresses)
{
    addresses = options.addresses;
    if (options.input.isEmpty())
        return true;
    QFile input;
    const bool standardInput = options.input == QLatin1String("-");
    const bool opened = standardInput ? input.open(stdin, QIODevice::ReadOnly)
                                      : (input.setFileName(options.input), input.open(QIODevice::ReadOnly));
    const QByteArray bytes = opened ? input.readAll() : QByteArray();
    if (!opened || input.error() != QFileDevice::NoError) {
        complain(standardInput ? QCoreApplication::translate("cli", "standard input") : options.input,
                 input.errorString());
        return false;
    }
    addresses += cli::addressList(bytes);
    return true;
}

int usage(const QString &problem)
{
    complain({}, problem);
    cli::writeAll(
        STDERR_FILENO,
        (QCoreApplication::translate("cli", "Try 'velmora-extract --help' for more information.") + u'\n').toUtf8());
    return Unusable;
}

} // namespace

int main(int argc, char *argv[])
{
    const bool stdoutClosed = cli::guardStandardStreams();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velmora-extract"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELMORA_VERSION));
    cli::useMessageLanguage(cli::messageLanguage(QProcessEnvironment::systemEnvironment()));

    const cli::ParsedArguments parsed = cli::parseArguments(QCoreApplication::arguments(), ::isatty(STDIN_FILENO) == 1);
    const cli::Options &options = parsed.options;
    if (stdoutClosed && parsed.kind != cli::ParsedArguments::Kind::Error && options.toStandardOutput()) {
        complain({}, QCoreApplication::translate("cli", "standard output is closed"));
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
    QStringList addresses;
    if (!gatherAddresses(options, addresses))
        return Unusable;

    // A reader leaving shows as a failed write instead of killing the process
    // before the engine is shut down.
    std::signal(SIGPIPE, SIG_IGN);
    // No restart: a write blocked on a reader that stopped reading must
    // return, so that an interrupt can end the program.
    quit_signals::Watcher watcher(quit_signals::terminating(), quit_signals::Restart::None);
    Output output(options);

    engine::ChromiumOptions engineOptions;
    engineOptions.settleMs = options.settleMs;
    engineOptions.loadDeadlineMs = options.timeoutSeconds * 1000;
    engineOptions.batch = addresses.size() > 1;
    auto browser = std::make_unique<engine::ChromiumBrowser>(engineOptions);
    // More lanes than pages would only hold tabs open.
    const int wanted = int(std::min<qsizetype>(options.jobs, std::max<qsizetype>(addresses.size(), 1)));
    const int jobs = std::min(wanted, engine::ChromiumBrowser::laneLimit());
    if (jobs < wanted && !options.quiet)
        complain({},
                 QCoreApplication::translate("cli",
                                             "reading %1 pages at once, not %2: two per processor, "
                                             "and as many as free memory holds")
                     .arg(jobs)
                     .arg(wanted));
    QList<engine::Browser *> lanes{browser.get()};
    while (lanes.size() < jobs) {
        engine::Browser *lane = browser->addLane();
        if (!lane)
            break;
        lanes.append(lane);
    }
    cli::Extractor extractor(lanes, options, addresses, output);
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
    readerWatch.setEnabled(options.toStandardOutput());
    QObject::connect(&readerWatch, &QSocketNotifier::activated, &extractor, [&] {
        if (!cli::readerGone(STDOUT_FILENO))
            return;
        readerWatch.setEnabled(false);
        output.result = cli::WriteResult::Closed;
        extractor.stop(cli::Extractor::Outcome::OutputLost);
    });
    extractor.start();
    QCoreApplication::exec();

    // Chromium goes first, whatever ended the run: no process and no profile
    // folder may outlive us. What it says while closing concerns no address.
    for (engine::Browser *lane : std::as_const(lanes))
        QObject::disconnect(lane, nullptr, &extractor, nullptr);
    if (outcome == cli::Extractor::Outcome::AllRead || outcome == cli::Extractor::Outcome::SomeFailed)
        cli::endStandardOutput();
    browser.reset();

    if (const int sig = quit_signals::Watcher::received())
        quit_signals::Watcher::dieBy(sig);

    switch (outcome) {
    case cli::Extractor::Outcome::EngineUnusable:
        return Unusable;
    case cli::Extractor::Outcome::OutputLost:
        if (output.result == cli::WriteResult::Closed)
            quit_signals::Watcher::dieBy(SIGPIPE); // as any filter ends when its reader leaves
        complain(QCoreApplication::translate("cli", "standard output"),
                 QString::fromLocal8Bit(std::strerror(output.error)));
        return Unusable;
    case cli::Extractor::Outcome::AllRead:
    case cli::Extractor::Outcome::SomeFailed:
        break;
    }

    // The file is replaced whole, and only once every address is done.
    if (!options.toStandardOutput()) {
        const QString error = save_file::writeFile(options.output, output.file);
        if (!error.isEmpty()) {
            complain(options.output, error);
            return Unusable;
        }
    }
    return outcome == cli::Extractor::Outcome::AllRead ? AllRead : SomeFailed;
}
