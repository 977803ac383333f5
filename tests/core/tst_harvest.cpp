#include "core/harvest.h"
#include "core/save_file.h"

#include <QStringDecoder>
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

    const QStringList page{
        "http://a.cn/1",  "", "mailto:x@a.cn", "http://b.cn/ABC", "javascript:void(0)", "http://a.cn/1",
        "http://b.cn/abc"};
    QTest::newRow("no anchors") << QStringList() << "" << QStringList();
    QTest::newRow("no filter keeps all but empty, duplicates and order kept")
        << page << "" << QStringList{"http://a.cn/1",      "mailto:x@a.cn", "http://b.cn/ABC",
                                     "javascript:void(0)", "http://a.cn/1", "http://b.cn/abc"};
    QTest::newRow("filter is case-sensitive") << page << "abc" << QStringList{"http://b.cn/abc"};
    QTest::newRow("filter matches anywhere")
        << page << "a.cn" << QStringList{"http://a.cn/1", "mailto:x@a.cn", "http://a.cn/1"};
    QTest::newRow("filter is not trimmed") << page << " a.cn" << QStringList();
    QTest::newRow("nothing matches") << page << "zzz" << QStringList();
    QTest::newRow("no filter and nothing empty") << QStringList{"b", "a", "b"} << "" << QStringList{"b", "a", "b"};
    QTest::newRow("only empty anchors") << QStringList{"", ""} << "" << QStringList();
    QTest::newRow("Chinese filter") << QStringList{"http://a.cn/中文", "http://a.cn/英文"} << "中"
                                    << QStringList{"http://a.cn/中文"};

    // Addresses Chromium cannot parse come back as the page wrote them.
    const QString crlf = QStringLiteral("http://bad host/?kw\r\nhttp://elsewhere/");
    const QStringList controls{crlf, QStringLiteral("http://a.cn/") + QChar(0) + QStringLiteral("x"),
                               QStringLiteral("\t\x01\x1f\x7f"), QStringLiteral("abcdefg\x7f"),
                               QStringLiteral("http://a.cn/ ~\u0080\u00a0")};
    const QStringList encoded{QStringLiteral("http://bad host/?kw%0D%0Ahttp://elsewhere/"),
                              QStringLiteral("http://a.cn/%00x"), QStringLiteral("%09%01%1F%7F"),
                              QStringLiteral("abcdefg%7F"), QStringLiteral("http://a.cn/ ~\u0080\u00a0")};
    QTest::newRow("controls and DEL percent-encoded") << controls << "" << encoded;
    QTest::newRow("filter sees the encoded item") << controls << "kw%0D" << QStringList{encoded.first()};

    const QChar high(0xD83D);
    const QChar low(0xDE00);
    QTest::newRow("half a surrogate pair becomes U+FFFD")
        << QStringList{QStringLiteral("http://a.cn/") + high, low + QStringLiteral("b"), QString(high) + low,
                       QString(low) + high}
        << ""
        << QStringList{QStringLiteral("http://a.cn/\uFFFD"), QStringLiteral("\uFFFDb"), QStringLiteral("😀"),
                       QStringLiteral("\uFFFD\uFFFD")};
}

void HarvestTest::keptAnchors()
{
    QFETCH(QStringList, anchors);
    QFETCH(QString, filter);
    QFETCH(QStringList, kept);
    const QStringList result = harvest::keptAnchors(anchors, filter);
    QCOMPARE(result, kept);
    // Saved, every item is one line of the file and reads back as listed.
    QStringDecoder decoder("GB18030");
    const QString file = decoder.decode(save_file::encodeLines(result));
    QCOMPARE(file.split(QStringLiteral("\r\n")), result + QStringList{QString()});
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
