#include "cli/options.h"

#include "velmora_config.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace cli {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("cli", text);
}

QString exitStatusText()
{
    return tr("\n"
              "Addresses come from the arguments, then from --input, one a line (blank\n"
              "lines and lines starting with # are skipped); with neither, from standard\n"
              "input. Only http:// and https:// addresses are read. Each page is loaded by\n"
              "headless Chromium through the proxy that http_proxy, https_proxy, everyproxy\n"
              "and no_proxy name, and read once it has loaded and what it requested while\n"
              "loading has come (at most --settle milliseconds after its load). Its links\n"
              "are printed in the order of the addresses, each page's together, in\n"
              "document order: a frame's where its element stands (--frames), a shadow\n"
              "tree's where its host stands (--shadow). Each failure is one line on\n"
              "standard error.\n"
              "\n"
              "Exit status:\n"
              "  0  every address was read\n"
              "  1  some addresses failed\n"
              "  2  the arguments, the input, the output or the engine were unusable\n");
}

ParsedArguments error(const QString &what)
{
    ParsedArguments parsed;
    parsed.kind = ParsedArguments::Kind::Error;
    parsed.text = what;
    return parsed;
}

// The parser has no option with an optional value: --dedupe=MODE becomes an
// option of its own. An argument that is another option's value, or comes
// after "--", is left alone.
QStringList withDedupeModes(const QStringList &arguments, const QStringList &valueNames, QString &problem)
{
    QStringList out;
    out.reserve(arguments.size());
    bool valueNext = false;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (i == 0 || optionsEnded || std::exchange(valueNext, false)) {
            out.append(argument);
            continue;
        }
        if (argument == QLatin1String("--")) {
            optionsEnded = true;
        } else if (argument.startsWith(QLatin1String("--dedupe="))) {
            const QStringView mode = QStringView(argument).mid(9);
            if (mode == QLatin1String("nocase"))
                out.append(QStringLiteral("--dedupe-nocase"));
            else if (mode == QLatin1String("exact"))
                out.append(QStringLiteral("--dedupe"));
            else
                problem = tr("--dedupe takes exact or nocase, not '%1'").arg(mode);
            continue;
        } else if (argument.startsWith(QLatin1String("--"))) {
            valueNext = !argument.contains(u'=') && valueNames.contains(QStringView(argument).mid(2));
        } else if (argument.startsWith(u'-') && argument.size() > 1) {
            // Compacted short options: the first that takes a value takes
            // the rest of the argument, or the next one.
            for (qsizetype k = 1; k < argument.size(); ++k) {
                if (valueNames.contains(QStringView(argument).mid(k, 1))) {
                    valueNext = k + 1 == argument.size();
                    break;
                }
            }
        }
        out.append(argument);
    }
    return out;
}

bool wholeNumber(const QString &text, int low, int high, int &value)
{
    bool ok = false;
    value = text.toInt(&ok);
    return ok && value >= low && value <= high;
}

} // namespace

ParsedArguments parseArguments(const QStringList &arguments, bool standardInputIsTerminal)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(tr("Print the links of web pages, loaded as a browser would."));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, tr("Show this help."));
    const QCommandLineOption version({QStringLiteral("V"), QStringLiteral("version")}, tr("Show the version."));
    const QCommandLineOption input({QStringLiteral("i"), QStringLiteral("input")},
                                   tr("Read addresses from FILE, one a line; - is standard input."),
                                   QStringLiteral("FILE"));
    const QCommandLineOption filter({QStringLiteral("f"), QStringLiteral("filter")},
                                    tr("Keep only links that contain TEXT (letter case counts)."),
                                    QStringLiteral("TEXT"));
    const QCommandLineOption filterNocase({QStringLiteral("F"), QStringLiteral("filter-nocase")},
                                          tr("Keep only links that contain TEXT, ignoring letter case."),
                                          QStringLiteral("TEXT"));
    const QCommandLineOption dedupe({QStringLiteral("d"), QStringLiteral("dedupe")},
                                    tr("Drop links printed before, across all addresses; the first is kept. "
                                       "--dedupe=nocase ignores letter case, as the window does."));
    QCommandLineOption dedupeNocase(QStringLiteral("dedupe-nocase"));
    dedupeNocase.setFlags(QCommandLineOption::HiddenFromHelp);
    const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")},
                                    tr("Write to FILE instead of standard output, replacing it once every "
                                       "address is done; - is standard output."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption json(QStringLiteral("json"),
                                  tr("Write JSON Lines: an object per link, with its text and where it "
                                     "came from, and one per failed address (see the manual)."));
    const QCommandLineOption null({QStringLiteral("0"), QStringLiteral("null")},
                                  tr("End each link with NUL instead of a newline."));
    const QCommandLineOption gb18030(QStringLiteral("gb18030"),
                                     tr("Write as the window saves: GB18030, CR LF after each link."));
    const QCommandLineOption quiet({QStringLiteral("q"), QStringLiteral("quiet")},
                                   tr("Say nothing of addresses that fail (the exit status still tells)."));
    const QCommandLineOption jobs({QStringLiteral("j"), QStringLiteral("jobs")},
                                  tr("Read up to N pages at once (default 1); at most two per processor "
                                     "and as many as free memory holds."),
                                  QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption timeout({QStringLiteral("t"), QStringLiteral("timeout")},
                                     tr("Stop waiting for a page not loaded after SECONDS: its links parsed by then "
                                        "are printed and it counts as failed (default 60; 0 waits for ever)."),
                                     QStringLiteral("SECONDS"), QStringLiteral("60"));
    const QCommandLineOption settle(QStringLiteral("settle"),
                                    tr("Wait at most MILLISECONDS after a page's load event for the requests "
                                       "it made to be answered and its links to stop changing (default 2000; "
                                       "0 reads it at its load event). --timeout includes this wait."),
                                    QStringLiteral("MILLISECONDS"), QStringLiteral("2000"));
    const QCommandLineOption frames(QStringLiteral("frames"),
                                    tr("Also read the links of every frame of the page, each where its frame "
                                       "element stands."));
    const QCommandLineOption shadow(QStringLiteral("shadow"),
                                    tr("Also read the links inside shadow trees, open and closed, in tree order."));
    const QCommandLineOption areas(QStringLiteral("areas"),
                                   tr("Also read the area elements of image maps that have an href."));
    const QCommandLineOption all(QStringLiteral("all"), tr("The same as --frames --shadow --areas."));
    const QList<QCommandLineOption> every{help,   version, input,  filter,  filterNocase, dedupe, dedupeNocase,
                                          output, json,    null,   gb18030, quiet,        jobs,   timeout,
                                          settle, frames,  shadow, areas,   all};
    parser.addOptions(every);
    // The names of options whose value may be the next argument.
    QStringList valueNames;
    for (const QCommandLineOption &option : every) {
        if (!option.valueName().isEmpty())
            valueNames += option.names();
    }
    parser.addPositionalArgument(QStringLiteral("URL"), tr("Addresses to read, in turn."), QStringLiteral("[URL...]"));

    QString problem;
    const QStringList rewritten = withDedupeModes(arguments, valueNames, problem);
    if (!problem.isEmpty())
        return error(problem);
    if (!parser.parse(rewritten))
        return error(parser.errorText());

    ParsedArguments parsed;
    if (parser.isSet(help)) {
        parsed.kind = ParsedArguments::Kind::Help;
        parsed.text = parser.helpText() + exitStatusText();
        return parsed;
    }
    if (parser.isSet(version)) {
        parsed.kind = ParsedArguments::Kind::Version;
        parsed.text = QStringLiteral("velmora-extract " VELMORA_VERSION "\n");
        return parsed;
    }

    Options &options = parsed.options;
    options.addresses = parser.positionalArguments();
    options.input = parser.value(input);
    if (parser.isSet(input) && options.input.isEmpty())
        return error(tr("--input needs a file name"));
    if (options.addresses.isEmpty() && options.input.isEmpty()) {
        if (standardInputIsTerminal)
            return error(tr("no address given"));
        options.input = QStringLiteral("-");
    }

    if (parser.isSet(filter) && parser.isSet(filterNocase))
        return error(tr("--filter and --filter-nocase cannot be combined"));
    options.filterIgnoresCase = parser.isSet(filterNocase);
    options.filter = parser.value(options.filterIgnoresCase ? filterNocase : filter);
    if (parser.isSet(dedupeNocase))
        options.dedupe = Dedupe::IgnoreCase;
    else if (parser.isSet(dedupe))
        options.dedupe = Dedupe::Exact;

    const int formats = int(parser.isSet(json)) + int(parser.isSet(null)) + int(parser.isSet(gb18030));
    if (formats > 1)
        return error(tr("--json, --null and --gb18030 cannot be combined"));
    if (parser.isSet(json))
        options.format = Format::Json;
    else if (parser.isSet(null))
        options.format = Format::Null;
    else if (parser.isSet(gb18030))
        options.format = Format::Gb18030;

    if (parser.isSet(output)) {
        options.output = parser.value(output);
        if (options.output.isEmpty())
            return error(tr("--output needs a file name"));
    }
    options.quiet = parser.isSet(quiet);
    options.frames = parser.isSet(frames) || parser.isSet(all);
    options.shadowTrees = parser.isSet(shadow) || parser.isSet(all);
    options.areas = parser.isSet(areas) || parser.isSet(all);
    if (!wholeNumber(parser.value(jobs), 1, maxJobs, options.jobs))
        return error(tr("--jobs wants a whole number from 1 to %1").arg(maxJobs));
    if (!wholeNumber(parser.value(timeout), 0, maxTimeoutSeconds, options.timeoutSeconds))
        return error(tr("--timeout wants a whole number of seconds from 0 to %1").arg(maxTimeoutSeconds));
    if (!wholeNumber(parser.value(settle), 0, maxSettleMs, options.settleMs))
        return error(tr("--settle wants a whole number of milliseconds from 0 to %1").arg(maxSettleMs));
    parsed.kind = ParsedArguments::Kind::Run;
    return parsed;
}

} // namespace cli
