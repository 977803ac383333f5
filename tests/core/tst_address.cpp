#include "core/address.h"

#include <QTest>

Q_DECLARE_METATYPE(address::Verdict)

class AddressTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void trimAndCheck_data();
    void trimAndCheck();
    void elidedQuotesAnyAddressOnOneShortLine_data();
    void elidedQuotesAnyAddressOnOneShortLine();
};

void AddressTest::trimAndCheck_data()
{
    using address::Verdict;
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("trimmed");
    QTest::addColumn<Verdict>("verdict");

    const QString ideographic(QChar(0x3000));
    QTest::newRow("empty") << ""
                           << "" << Verdict::BadPrefix;
    QTest::newRow("blanks only") << "   "
                                 << "" << Verdict::BadPrefix;
    QTest::newRow("ideographic blanks only") << ideographic + ideographic << "" << Verdict::BadPrefix;
    QTest::newRow("blanks both ends") << "  http://a.b.cn/  "
                                      << "http://a.b.cn/" << Verdict::Ok;
    QTest::newRow("mixed blanks both ends")
        << ideographic + " http://a.b.cn/" + ideographic << "http://a.b.cn/" << Verdict::Ok;
    QTest::newRow("inner blanks kept") << " http://a b.cn "
                                       << "http://a b.cn" << Verdict::Ok;
    QTest::newRow("leading tab kept") << "\thttp://a.b.cn/"
                                      << "\thttp://a.b.cn/" << Verdict::BadPrefix;
    QTest::newRow("trailing tab kept") << "http://a.b.cn/\t"
                                       << "http://a.b.cn/\t" << Verdict::Ok;
    QTest::newRow("upper-case prefix") << "HTTP://a.b.cn/"
                                       << "HTTP://a.b.cn/" << Verdict::BadPrefix;
    QTest::newRow("mixed-case prefix") << "Http://a.b.cn/"
                                       << "Http://a.b.cn/" << Verdict::BadPrefix;
    QTest::newRow("https") << "https://a.b.cn/"
                           << "https://a.b.cn/" << Verdict::BadPrefix;
    QTest::newRow("http:/ shorter than prefix") << "http:/"
                                                << "http:/" << Verdict::BadPrefix;
    QTest::newRow("prefix alone") << "http://"
                                  << "http://" << Verdict::TooShort;
    QTest::newRow("12 characters") << "http://abcde"
                                   << "http://abcde" << Verdict::TooShort;
    QTest::newRow("13 characters") << "http://abcdef"
                                   << "http://abcdef" << Verdict::Ok;
    // Lengths count UTF-16 code units: each Chinese character counts one.
    QTest::newRow("12 with Chinese") << "http://中文网站点"
                                     << "http://中文网站点" << Verdict::TooShort;
    QTest::newRow("13 with Chinese") << "http://中文网站点a"
                                     << "http://中文网站点a" << Verdict::Ok;
    QTest::newRow("13 only after trimming") << "  http://abcde "
                                            << "http://abcde" << Verdict::TooShort;
    const QString longest = "http://" + QString(address::maximumLength - 7, QLatin1Char('x'));
    QTest::newRow("Chromium's longest") << longest << longest << Verdict::Ok;
    QTest::newRow("one longer") << longest + "x" << longest + "x" << Verdict::TooLong;
}

void AddressTest::elidedQuotesAnyAddressOnOneShortLine_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("quoted");

    // Start and end around the ellipsis, as much of each as the length holds.
    const qsizetype head = (address::quotedLength - 1) / 2;
    const qsizetype tail = address::quotedLength - 1 - head;
    const QString a(head, QLatin1Char('a')), b(tail, QLatin1Char('b')), ellipsis(QChar(0x2026));
    const QString emoji = QString::fromUtf16(u"😀"); // two units
    const QString longest(address::quotedLength, QLatin1Char('x'));
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("short, untouched") << "http://a.example/"
                                      << "http://a.example/";
    QTest::newRow("the longest untouched") << longest << longest;
    QTest::newRow("one longer") << a + "middle" + b << a + ellipsis + b;
    QTest::newRow("10 MB") << a + QString(10 << 20, QLatin1Char('m')) + b << a + ellipsis + b;
    QTest::newRow("a pair across the start's cut")
        << a.chopped(1) + emoji + "middle" + b << a.chopped(1) + ellipsis + b;
    QTest::newRow("a pair across the end's cut") << a + "middle" + emoji + b.chopped(1) << a + ellipsis + b.chopped(1);
    QTest::newRow("CR, LF and NUL on one line")
        << QString::fromUtf16(u"http://a/\r\n\0b\x7f", 14) << "http://a/%0D%0A%00b%7F";
    // Each control takes three units once encoded; the bound holds for them.
    QTest::newRow("controls past the length")
        << QString(head + 1, QChar(0)) + QString(tail + 1, QChar(1))
        << QString("%00").repeated(head / 3) + ellipsis + QString("%01").repeated(tail / 3);
}

void AddressTest::elidedQuotesAnyAddressOnOneShortLine()
{
    QFETCH(QString, address);
    QFETCH(QString, quoted);
    const QString got = address::elided(address);
    QVERIFY2(got == quoted, qPrintable(got.left(300)));
    QVERIFY(got.size() <= address::quotedLength);
}

void AddressTest::trimAndCheck()
{
    QFETCH(QString, typed);
    QFETCH(QString, trimmed);
    QFETCH(address::Verdict, verdict);

    QCOMPARE(address::trimBlanks(typed), trimmed);
    QCOMPARE(address::check(trimmed), verdict);
}

QTEST_GUILESS_MAIN(AddressTest)
#include "tst_address.moc"
