// The benchmark's arithmetic and its readings of /proc: a wrong median or a
// misread process tree would make every printed number wrong.
#include "measure.h"
#include "proc_stats.h"

#include <QProcess>
#include <QTest>

#include <unistd.h>

class BenchStatsTest : public QObject
{
    Q_OBJECT

private slots:
    void summaryTakesTheMiddleOfUnsortedSamples()
    {
        QVERIFY(!bench::summarize({}));
        const auto odd = bench::summarize({9, 1, 5});
        QCOMPARE(odd->median, 5.0);
        QCOMPARE(odd->min, 1.0);
        QCOMPARE(odd->max, 9.0);
        QCOMPARE(bench::summarize({4, 1, 3, 2})->median, 2.5);
    }

    void verdictHoldsTheRowToItsTarget()
    {
        bench::RowResult row(QStringLiteral("r"), QStringLiteral("ms"));
        row.samples = {40, 60, 50};
        QCOMPARE(row.verdict(), QString());
        row.target = {bench::Target::MedianAtMost, 50};
        QCOMPARE(row.verdict(), QStringLiteral("PASS"));
        row.target.limit = 49.9;
        QCOMPARE(row.verdict(), QStringLiteral("MISS"));
        // Every ratio bound must hold, on top of the median's.
        row.target = {};
        row.ratios = {{QStringLiteral("full"), 0.65, {}}, {QStringLiteral("shell"), 0.8, 0.7}};
        QCOMPARE(row.verdict(), QStringLiteral("MISS")); // one ratio not measured
        row.ratios[0].value = 0.66;
        QCOMPARE(row.verdict(), QStringLiteral("MISS"));
        row.ratios[0].value = 0.65;
        QCOMPARE(row.verdict(), QStringLiteral("PASS"));
        row.target = {bench::Target::MedianAtMost, 49.9};
        QCOMPARE(row.verdict(), QStringLiteral("MISS"));
        row.error = QStringLiteral("Chromium was not ready");
        QCOMPARE(row.verdict(), QStringLiteral("MISS"));
        QVERIFY(bench::formatRow(row).contains(QStringLiteral("FAILED: Chromium was not ready")));
    }

    void statLinesWithAwkwardCommandNames()
    {
        // A renderer may rename itself; blanks and ')' in the name must not
        // shift the fields after it.
        const auto line = bench::proc::parseStat(
            "4242 (Web Content) (x)) S 17 4242 4242 0 -1 4194560 100 0 0 0 30 12 0 0 20 0 1 0 5 0 0\n");
        QVERIFY(line);
        QCOMPARE(line->pid, 4242);
        QCOMPARE(line->ppid, 17);
        QCOMPARE(line->cpuTicks, 42);
        QVERIFY(!bench::proc::parseStat("garbage"));
        QVERIFY(!bench::proc::parseStat("12 (cut) S 1 2"));
    }

    void kilobyteFieldsMatchWholeNamesOnly()
    {
        const QByteArray status = "Name:\tx\nVmHWMx:\t1 kB\nVmHWM:\t   2048 kB\nVmRSS:\t1024 kB";
        QCOMPARE(bench::proc::kbField(status, "VmHWM:"), std::optional<qint64>(2048));
        QCOMPARE(bench::proc::kbField(status, "VmRSS:"), std::optional<qint64>(1024));
        QVERIFY(!bench::proc::kbField(status, "Pss:"));
    }

    void descendantsFollowTheWholeTree()
    {
        const QHash<qint64, qint64> parents{{1, 0}, {10, 1}, {11, 10}, {12, 10}, {13, 12}, {20, 1}};
        QList<qint64> tree = bench::proc::descendants(10, parents);
        QCOMPARE(tree.first(), 10);
        std::sort(tree.begin(), tree.end());
        QCOMPARE(tree, (QList<qint64>{10, 11, 12, 13}));
        QVERIFY(bench::proc::descendants(99, parents).isEmpty());
    }

    void liveTreeAndMemoryOfThisProcess()
    {
        QProcess child;
        child.start(QStringLiteral("sleep"), {QStringLiteral("30")});
        QVERIFY(child.waitForStarted());
        const QList<qint64> tree = bench::proc::processTree(::getpid());
        QCOMPARE(tree.first(), qint64(::getpid()));
        QVERIFY(tree.contains(child.processId()));
        QVERIFY(bench::proc::treePss(::getpid()).processes >= 2);
        // Current first: memory may grow between the two readings, and the
        // peak read after it covers whatever the current one saw.
        const std::optional<qint64> rss = bench::proc::selfRssKb();
        const std::optional<qint64> peak = bench::proc::selfPeakRssKb();
        QVERIFY(rss && peak);
        QVERIFY2(*peak >= *rss, qPrintable(QStringLiteral("peak %1 kB, current %2 kB").arg(*peak).arg(*rss)));
        child.kill();
        child.waitForFinished();
    }
};

QTEST_GUILESS_MAIN(BenchStatsTest)
#include "tst_bench_stats.moc"
