// velmora-extract's read of the 100k page with everything in scope and its
// text, against its plain read: the run logic and the engine in process,
// each on a Chromium of its own, the output formatted and dropped.
#include "bench.h"
#include "settle.h"

#include "cli/extractor.h"
#include "cli/options.h"
#include "cli/output.h"
#include "engine/chromium_browser.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QSignalSpy>

#include <optional>

using namespace engine;

namespace bench {

namespace {

// Formats every outcome as standard output would get it, and forgets it.
class Discard final : public cli::Sink
{
public:
    explicit Discard(cli::Format format) : m_format(format) {}
    bool deliver(const cli::PageOutcome &outcome) override
    {
        lines += cli::formatted(outcome, m_format).count('\n');
        return true;
    }
    qsizetype lines = 0;

private:
    cli::Format m_format;
};

// One extraction's time: start -> every link delivered.
std::optional<double> extractOnce(Browser &browser, const cli::Options &options, const QString &url, int links,
                                  QString *error)
{
    Discard sink(options.format);
    cli::Extractor extractor({&browser}, options, {url}, sink);
    QEventLoop loop;
    auto outcome = cli::Extractor::Outcome::AllRead;
    QObject::connect(&extractor, &cli::Extractor::finished, &loop, [&](cli::Extractor::Outcome o) {
        outcome = o;
        loop.quit();
    });
    QElapsedTimer clock;
    clock.start();
    extractor.start();
    extractor.engineReady();
    loop.exec();
    const double ms = double(clock.nsecsElapsed()) / 1e6;
    if (outcome != cli::Extractor::Outcome::AllRead || sink.lines != links) {
        *error = QStringLiteral("the read gave %1 lines, not %2").arg(sink.lines).arg(links);
        return std::nullopt;
    }
    return ms;
}

} // namespace

void Bench::extractAllRows()
{
    RowResult all{QStringLiteral("harvest-100k-all"), QStringLiteral("ms")};
    RowResult plain{QStringLiteral("harvest-100k-plain"), QStringLiteral("ms")};
    if (!wanted(all.name) && !wanted(plain.name))
        return;
    constexpr int count = 100000;
    all.ratios = {{plain.name, 1.5, {}}};
    struct Side
    {
        RowResult *row;
        QStringList arguments;
        QString consumer;
        std::unique_ptr<ChromiumBrowser> browser;
        cli::Options options;
    };
    Side sides[] = {{&all, {QStringLiteral("--all"), QStringLiteral("--json")}, QStringLiteral("ea"), {}, {}},
                    {&plain, {}, QStringLiteral("ep"), {}, {}}};
    QList<qint64> pids;
    QString error;
    for (Side &side : sides) {
        side.options = cli::parseArguments(QStringList{QStringLiteral("velmora-extract")} + side.arguments
                                               + QStringList{QStringLiteral("x")},
                                           true)
                           .options;
        side.browser = std::make_unique<ChromiumBrowser>();
        // The scope is set as the command line sets it: before Chromium starts.
        if (side.row == &all)
            side.browser->setLinkScope({true, true, true, true});
        QSignalSpy ready(side.browser.get(), &ChromiumBrowser::ready);
        side.browser->start();
        if (!ready.wait(60000)) {
            error = QStringLiteral("Chromium did not start");
            break;
        }
        pids.append(side.browser->processId());
    }
    for (int run = 0; error.isEmpty() && run <= harvestRuns(); ++run) {
        for (int turn = 0; turn < 2 && error.isEmpty(); ++turn) {
            Side &side = sides[(turn + run) % 2];
            settle(pids);
            const auto ms = extractOnce(*side.browser, side.options, anchorsPage(side.consumer, count), count, &error);
            if (ms && run > 0)
                side.row->samples.push_back(*ms);
        }
    }
    if (!error.isEmpty())
        all.error = plain.error = error;
    if (!all.samples.empty() && !plain.samples.empty()) {
        const auto a = summarize(all.samples);
        const auto p = summarize(plain.samples);
        all.ratios.front().value = a->median / p->median;
    }
    all.note = QStringLiteral("velmora-extract's run in process, --all --json: navigate -> all %1 links with their "
                              "text formatted as JSON Lines; goal <=1.25x; the page saw: %2")
                   .arg(count)
                   .arg(visibilitySeen(sides[0].consumer));
    plain.note = QStringLiteral("the same without options: navigate -> all %1 links formatted as lines; the page "
                                "saw: %2")
                     .arg(count)
                     .arg(visibilitySeen(sides[1].consumer));
    if (wanted(all.name))
        print(all);
    print(plain);
}

} // namespace bench
