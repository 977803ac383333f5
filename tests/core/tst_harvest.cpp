#include "browser/harvest.h"

#include <QTest>

class HarvestTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void keptAnchors_data();
    void keptAnchors();
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

QTEST_GUILESS_MAIN(HarvestTest)
#include "tst_harvest.moc"
