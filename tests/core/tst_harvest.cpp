#include "core/harvest.h"

#include <QTest>

class HarvestTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void keptAnchors_data();
    void keptAnchors();
    void keepingEverythingCopiesNothing();
};

void HarvestTest::keptAnchors_data()
{
    QTest::addColumn<QStringList>("anchors");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QStringList>("kept");

    const QStringList page{"http://a.cn/1", "", "mailto:x@a.cn", "http://b.cn/ABC", "javascript:void(0)",
                           "http://a.cn/1", "http://b.cn/abc"};
    QTest::newRow("no anchors") << QStringList() << "" << QStringList();
    QTest::newRow("no filter keeps all but empty, duplicates and order kept")
        << page << ""
        << QStringList{"http://a.cn/1", "mailto:x@a.cn", "http://b.cn/ABC", "javascript:void(0)",
                       "http://a.cn/1", "http://b.cn/abc"};
    QTest::newRow("filter is case-sensitive") << page << "abc" << QStringList{"http://b.cn/abc"};
    QTest::newRow("filter matches anywhere") << page << "a.cn"
                                             << QStringList{"http://a.cn/1", "mailto:x@a.cn", "http://a.cn/1"};
    QTest::newRow("filter is not trimmed") << page << " a.cn" << QStringList();
    QTest::newRow("nothing matches") << page << "zzz" << QStringList();
    QTest::newRow("no filter and nothing empty") << QStringList{"b", "a", "b"} << "" << QStringList{"b", "a", "b"};
    QTest::newRow("only empty anchors") << QStringList{"", ""} << "" << QStringList();
    QTest::newRow("Chinese filter") << QStringList{"http://a.cn/中文", "http://a.cn/英文"} << "中"
                                    << QStringList{"http://a.cn/中文"};
}

void HarvestTest::keptAnchors()
{
    QFETCH(QStringList, anchors);
    QFETCH(QString, filter);
    QFETCH(QStringList, kept);
    QCOMPARE(harvest::keptAnchors(anchors, filter), kept);
}

void HarvestTest::keepingEverythingCopiesNothing()
{
    // A big page with no filter is handed on as it came, not string by string.
    QStringList page;
    for (int i = 0; i < 100000; ++i)
        page.append(QStringLiteral("http://a.cn/%1").arg(i));
    QVERIFY(harvest::keptAnchors(page, {}).isSharedWith(page));
    QVERIFY(!harvest::keptAnchors(page, QStringLiteral("/9")).isSharedWith(page));
    page.append(QString());
    const QStringList kept = harvest::keptAnchors(page, {});
    QCOMPARE(kept.size(), 100000);
    QCOMPARE(kept.last(), QStringLiteral("http://a.cn/99999"));
}

QTEST_GUILESS_MAIN(HarvestTest)
#include "tst_harvest.moc"
