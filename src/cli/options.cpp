#include "cli/options.h"

#include "velmora_config.h"

#include <QCommandLineParser>

namespace cli {

namespace {

const QString exitStatusText =
    QStringLiteral("\n"
                   "Each address is trimmed and checked as in the window's address box,\n"
                   "loaded by headless Chromium, and its links are printed as UTF-8, one a\n"
                   "line, once the page has loaded and what it requested while loading has\n"
                   "come (at most --settle milliseconds after its load). With --output they are saved instead, as\n"
                   "the window saves them (GB18030, CR LF; \".txt\" is added unless the name\n"
                   "ends in it). Each failure is one line on standard error.\n"
                   "\n"
                   "Exit status:\n"
                   "  0  every address was read\n"
                   "  1  some addresses failed\n"
                   "  2  the arguments, the output or the engine were unusable\n");

ParsedArguments error(const QString &what)
{
    ParsedArguments parsed;
    parsed.kind = ParsedArguments::Kind::Error;
    parsed.text = what;
    return parsed;
}

} // namespace

ParsedArguments parseArguments(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Print the links of web pages, loaded as a browser would."));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help."));
    const QCommandLineOption version({QStringLiteral("V"), QStringLiteral("version")},
                                     QStringLiteral("Show the version."));
    const QCommandLineOption filter({QStringLiteral("f"), QStringLiteral("filter")},
                                    QStringLiteral("Keep only links that contain TEXT (letter case counts)."),
                                    QStringLiteral("TEXT"));
    const QCommandLineOption dedupe({QStringLiteral("d"), QStringLiteral("dedupe")},
                                    QStringLiteral("Drop links seen before, across all addresses, "
                                                   "ignoring letter case; the first is kept."));
    const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")},
                                    QStringLiteral("Save the links to FILE instead of printing them."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption timeout({QStringLiteral("t"), QStringLiteral("timeout")},
                                     QStringLiteral("Give up on a page not loaded after SECONDS "
                                                    "(default 60; 0 waits for ever)."),
                                     QStringLiteral("SECONDS"), QStringLiteral("60"));
    const QCommandLineOption settle(QStringLiteral("settle"),
                                    QStringLiteral("Wait at most MILLISECONDS after a page's load event for the "
                                                   "requests it made to be answered and its links to stop "
                                                   "changing (default 2000; 0 reads it at its load event). "
                                                   "--timeout includes this wait."),
                                    QStringLiteral("MILLISECONDS"), QStringLiteral("2000"));
    parser.addOptions({help, version, filter, dedupe, output, timeout, settle});
    parser.addPositionalArgument(QStringLiteral("URL"), QStringLiteral("Addresses to read, in turn."),
                                 QStringLiteral("URL..."));

    if (!parser.parse(arguments))
        return error(parser.errorText());

    ParsedArguments parsed;
    if (parser.isSet(help)) {
        parsed.kind = ParsedArguments::Kind::Help;
        parsed.text = parser.helpText() + exitStatusText;
        return parsed;
    }
    if (parser.isSet(version)) {
        parsed.kind = ParsedArguments::Kind::Version;
        parsed.text = QStringLiteral("velmora-extract " VELMORA_VERSION "\n");
        return parsed;
    }

    Options &options = parsed.options;
    options.addresses = parser.positionalArguments();
    if (options.addresses.isEmpty())
        return error(QStringLiteral("no address given"));
    options.filter = parser.value(filter);
    options.dedupe = parser.isSet(dedupe);
    if (parser.isSet(output)) {
        options.output = parser.value(output);
        // An empty name would become the hidden file ".txt".
        if (options.output.isEmpty())
            return error(QStringLiteral("--output needs a file name"));
    }
    bool ok = false;
    options.timeoutSeconds = parser.value(timeout).toInt(&ok);
    if (!ok || options.timeoutSeconds < 0 || options.timeoutSeconds > maxTimeoutSeconds)
        return error(QStringLiteral("--timeout wants a whole number of seconds from 0 to %1").arg(maxTimeoutSeconds));
    options.settleMs = parser.value(settle).toInt(&ok);
    if (!ok || options.settleMs < 0 || options.settleMs > maxSettleMs)
        return error(QStringLiteral("--settle wants a whole number of milliseconds from 0 to %1").arg(maxSettleMs));
    parsed.kind = ParsedArguments::Kind::Run;
    return parsed;
}

} // namespace cli
