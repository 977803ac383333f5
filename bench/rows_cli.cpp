// The rows that time velmora-extract as a shell runs it, start to exit: one
// small page against the shell's own --dump-dom, and a batch of pages read
// one and four at a time against a bare client reading them in turn.
#include "bare_client.h"
#include "bare_launch.h"
#include "bench.h"
#include "procfs.h"
#include "race.h"
#include "settle.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <csignal>
#include <memory>
#include <unistd.h>

namespace bench {

namespace {

constexpr int oneshotTimeoutMs = 60000;
constexpr int batchTimeoutMs = 600000;

// One run of a program, timed from just before its start to its exit.
struct TimedRun
{
    std::optional<double> ms; // unset when it did not end by itself in time
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
    QString error; // why it did not run to a normal end

    // The first line it wrote on standard error, if any.
    QString firstErrLine() const { return QString::fromLocal8Bit(err.trimmed().split('\n').constFirst()).trimmed(); }
};

// The event loop turns meanwhile, so the page server goes on answering.
TimedRun timedRun(const QString &program, const QStringList &arguments, int timeoutMs)
{
    TimedRun run;
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    // Its own group, so whatever it leaves running can be found and ended.
    process.setChildProcessModifier([] { ::setpgid(0, 0); });
    QEventLoop loop;
    QElapsedTimer clock;
    const auto ended = QObject::connect(&process, &QProcess::finished, &loop, [&] {
        run.ms = double(clock.nsecsElapsed()) / 1e6;
        loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    clock.start();
    process.start();
    if (!process.waitForStarted(10000)) {
        run.error = program + QStringLiteral(": ") + process.errorString();
        return run;
    }
    process.closeWriteChannel();
    const qint64 group = process.processId();
    loop.exec();
    QObject::disconnect(ended);
    if (!run.ms) {
        process.kill();
        process.waitForFinished(5000);
        run.error = QStringLiteral("%1 did not end within %2 s").arg(program).arg(timeoutMs / 1000);
    }
    run.exitCode = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    if (run.error.isEmpty() && (process.exitStatus() != QProcess::NormalExit || run.exitCode != 0))
        run.error =
            QStringLiteral("%1 ended with %2: %3")
                .arg(program)
                .arg(process.exitStatus() == QProcess::NormalExit ? QStringLiteral("exit code %1").arg(run.exitCode)
                                                                  : QStringLiteral("a crash"))
                .arg(run.firstErrLine());
    // Whatever it left behind (helpers on their way out) would take the next
    // turn's CPU: give it a moment, then end it.
    for (int waited = 0; !procfs::groupAndDescendants(group).isEmpty() && waited < 2000; waited += 20)
        spin(20);
    ::kill(pid_t(-group), SIGKILL);
    return run;
}

} // namespace

void Bench::cliOneshotRows()
{
    RowResult ours{QStringLiteral("cli-oneshot"), QStringLiteral("ms")};
    RowResult shell{QStringLiteral("cli-oneshot-dump-dom-baseline"), QStringLiteral("ms")};
    if (!wanted(ours.name) && !wanted(shell.name))
        return;
    ours.ratios = {{shell.name, 1.1, {}}};
    const QString path = QStringLiteral("/oneshot/page.html");
    if (!m_routed.contains(path)) {
        m_server.route(path, PageServer::anchorsPage(1));
        m_routed.append(path);
    }
    const QString url = m_server.url(path);
    const QByteArray expected = QUrl(url).resolved(QUrl(QStringLiteral("/item/0"))).toEncoded() + '\n';
    const QString extract = QStringLiteral(VELMORA_EXTRACT);
    const QString dumper = engineExecutable(Engine::Shell);

    const Contender ourTurn{
        &ours, [&](bool, QString *error) -> std::optional<double> {
            const TimedRun run = timedRun(extract, {url}, oneshotTimeoutMs);
            if (!run.error.isEmpty())
                *error = run.error;
            else if (run.out != expected)
                *error =
                    QStringLiteral("velmora-extract wrote %1 lines, not the page's one link").arg(run.out.count('\n'));
            return error->isEmpty() ? run.ms : std::nullopt;
        }};
    // The profile folder is made before the clock starts and removed after it
    // stops, which velmora-extract does inside its own time.
    const Contender shellTurn{
        &shell, [&](bool, QString *error) -> std::optional<double> {
            QTemporaryDir profile;
            const TimedRun run =
                timedRun(dumper, bareSwitches(profile.path()) + QStringList{QStringLiteral("--dump-dom"), url},
                         oneshotTimeoutMs);
            if (!run.error.isEmpty())
                *error = run.error;
            else if (!run.out.contains("<a href=\"/item/0\">"))
                *error =
                    QStringLiteral("--dump-dom wrote no page with its link: ") + QString::fromUtf8(run.out.left(200));
            return error->isEmpty() ? run.ms : std::nullopt;
        }};
    if (dumper.isEmpty())
        ours.error = shell.error = QStringLiteral("no headless shell on this machine");
    else
        // A start takes about 0.4 s and its spread is wide; eleven pairs cost 15 s.
        race({ourTurn, shellTurn}, std::max(m_options.runs, 11), {});
    takeRatios(ours, {&shell});
    ours.note = QStringLiteral("%1 <one-link page> (engine %2), spawn -> exit, its one line checked; goal <=1.00x")
                    .arg(extract, engineExecutable(Engine::Ours));
    shell.note = QStringLiteral("%1 %2 --dump-dom <the same page>, spawn -> exit, its DOM checked; fresh profile")
                     .arg(dumper, bareSwitches(QStringLiteral("<tmp>")).join(QLatin1Char(' ')));
    if (wanted(ours.name))
        print(ours);
    print(shell);
}

void Bench::cliBatchRows()
{
    RowResult four{QStringLiteral("cli-batch-50"), QStringLiteral("ms")};
    RowResult one{QStringLiteral("cli-batch-50-j1"), QStringLiteral("ms")};
    RowResult bare{QStringLiteral("cli-batch-50-bare-baseline"), QStringLiteral("ms")};
    if (!wanted(four.name) && !wanted(one.name) && !wanted(bare.name))
        return;
    four.ratios = {{one.name, 0.7, {}}, {bare.name, 0.8, {}}};
    constexpr int pages = 50;
    constexpr int count = 1000;
    // Every side reads the same links, in the order of the pages; the pages
    // are served under a folder per side so their reports of how they were
    // shown stay apart.
    QByteArray expected;
    for (int page = 0; page < pages; ++page)
        for (int i = 0; i < count; ++i)
            expected += m_server.url(QStringLiteral("/batch/%1/item/%2").arg(page).arg(i)).toUtf8() + '\n';
    auto sameLinks = [&](const QByteArray &links, const QString &who, QString *error) {
        if (links == expected)
            return true;
        const qsizetype lines = links.count('\n');
        *error = lines == pages * count
            ? QStringLiteral("%1 read %2 links, but not the pages' own").arg(who).arg(lines)
            : QStringLiteral("%1 read %2 links, not %3").arg(who).arg(lines).arg(pages * count);
        return false;
    };

    QTemporaryDir folder;
    const QString extract = QStringLiteral(VELMORA_EXTRACT);
    QStringList said; // velmora-extract's diagnostics, once each
    auto cliTurn = [&](RowResult &row, int jobs, const QString &consumer) -> Contender {
        const QString input = folder.filePath(consumer + QStringLiteral(".txt"));
        QFile list(input);
        if (!list.open(QIODevice::WriteOnly)
            || list.write((batchPages(consumer, pages, count).join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8())
                < 0)
            row.error = QStringLiteral("cannot write %1").arg(input);
        const QString output = folder.filePath(consumer + QStringLiteral("-links.txt"));
        return {&row, [&, jobs, input, output](bool, QString *error) -> std::optional<double> {
                    QFile::remove(output);
                    const TimedRun run = timedRun(extract,
                                                  {QStringLiteral("--input"), input, QStringLiteral("-j"),
                                                   QString::number(jobs), QStringLiteral("-o"), output},
                                                  batchTimeoutMs);
                    for (const QByteArray &line : run.err.trimmed().split('\n'))
                        if (!line.isEmpty() && !said.contains(QString::fromLocal8Bit(line)))
                            said.append(QString::fromLocal8Bit(line));
                    if (!run.error.isEmpty()) {
                        *error = run.error;
                        return std::nullopt;
                    }
                    QFile links(output);
                    if (!links.open(QIODevice::ReadOnly)) {
                        *error = QStringLiteral("velmora-extract wrote no %1").arg(output);
                        return std::nullopt;
                    }
                    if (!sameLinks(links.readAll(), QStringLiteral("velmora-extract -j %1").arg(jobs), error))
                        return std::nullopt;
                    return run.ms;
                }};
    };
    const Contender turns[] = {cliTurn(four, 4, QStringLiteral("cb4")), cliTurn(one, 1, QStringLiteral("cb1"))};

    const QString shell = engineExecutable(Engine::Shell);
    const QStringList bareUrls = batchPages(QStringLiteral("cbb"), pages, count);
    QStringList tabStates;
    // Launched as the engine launches it, one tab, each page loaded and read
    // in turn; the clock stops once Chromium has closed, as velmora-extract
    // closes it before its exit.
    const Contender bareTurn{&bare, [&](bool, QString *error) -> std::optional<double> {
                                 QElapsedTimer clock;
                                 clock.start();
                                 auto client = std::make_unique<BareChromium>(shell);
                                 QString state;
                                 if (!client->start(error) || !client->openTab(&state, error))
                                     return std::nullopt;
                                 QStringList links;
                                 for (const QString &url : bareUrls)
                                     if (!client->harvest(url, count, error, BareChromium::ReadAt::Load, &links))
                                         return std::nullopt;
                                 client.reset();
                                 const double ms = double(clock.nsecsElapsed()) / 1e6;
                                 if (!tabStates.contains(state))
                                     tabStates.append(state);
                                 if (!sameLinks((links.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8(),
                                                QStringLiteral("the bare client"), error))
                                     return std::nullopt;
                                 return ms;
                             }};

    if (!folder.isValid())
        four.error = one.error = bare.error = QStringLiteral("no temporary folder");
    else if (!four.error.isEmpty() || !one.error.isEmpty())
        bare.error = four.error + one.error;
    else
        race({turns[0], turns[1], bareTurn}, m_options.runs, {});
    takeRatios(four, {&one, &bare});
    const QString what = QStringLiteral("%1 pages of %2 links (%3 in all), --input FILE -o FILE")
                             .arg(pages)
                             .arg(count)
                             .arg(pages * count);
    const QString heard =
        said.isEmpty() ? QString() : QStringLiteral("; its standard error: ") + said.join(QStringLiteral(" / "));
    four.note = QStringLiteral("velmora-extract -j 4, %1, spawn -> exit, every link checked; goal <=0.55x %2; "
                               "the pages saw: %3%4")
                    .arg(what, one.name, visibilitySeen(QStringLiteral("cb4")), heard);
    one.note =
        QStringLiteral("velmora-extract -j 1, the same; the pages saw: %1").arg(visibilitySeen(QStringLiteral("cb1")));
    bare.note = QStringLiteral("%1, launched as the engine launches it, one tab (%2): for each page Page.navigate -> "
                               "loadEventFired -> Runtime.evaluate of the hrefs; launch -> Chromium closed; the pages "
                               "saw: %3")
                    .arg(shell, tabStates.join(QLatin1Char('/')), visibilitySeen(QStringLiteral("cbb")));
    if (wanted(four.name))
        print(four);
    if (wanted(four.name) || wanted(one.name))
        print(one);
    print(bare);
}

} // namespace bench
