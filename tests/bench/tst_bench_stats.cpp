// The benchmark's arithmetic: a wrong median would make every printed number wrong.
#include "measure.h"

#include <QTest>

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
};

QTEST_GUILESS_MAIN(BenchStatsTest)
#include "tst_bench_stats.moc"
