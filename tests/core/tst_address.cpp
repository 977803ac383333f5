#include "core/address.h"

#include <QTest>

Q_DECLARE_METATYPE(address::Verdict)

class AddressTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void trimAndCheck_data();
    void trimAndCheck();
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
