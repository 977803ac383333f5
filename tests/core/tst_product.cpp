#include "core/product.h"

#include "velmora_config.h"

#include <QTest>

class ProductTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void chr936_data();
    void chr936();
    void chr936KeepsNoStateBetweenCalls();
    void captionSpellsBrandVersionAndHost();
    void aboutTextHasSevenLinesWithItsBlanks();
    void homePageDiffersOnlyInTrailingSlash();
};

void ProductTest::chr936_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");

    QTest::newRow("ASCII letter") << 65 << QStringLiteral("A");
    QTest::newRow("hyphen") << 45 << QStringLiteral("-");
    QTest::newRow("科 0xBFC6") << -16442 << QStringLiteral("科");
    QTest::newRow("技 0xBCBC") << -17220 << QStringLiteral("技");
    // 丂 is in GBK's extension, not in GB2312: a GB2312-only decoder fails it.
    QTest::newRow("丂 0x8140") << -32448 << QStringLiteral("丂");
    QTest::newRow("invalid pair 0xFFFF") << -1 << QString(QChar::ReplacementCharacter);
}

void ProductTest::chr936()
{
    QFETCH(int, code);
    QFETCH(QString, text);
    QCOMPARE(product::chr936(static_cast<qint16>(code)), text);
}

void ProductTest::chr936KeepsNoStateBetweenCalls()
{
    // 0xB0 alone is a lead byte waiting for its trail byte.
    QCOMPARE(product::chr936(0xB0), QString(QChar::ReplacementCharacter));
    QCOMPARE(product::chr936(65), QStringLiteral("A"));
}

void ProductTest::captionSpellsBrandVersionAndHost()
{
    const QString expected =
        QStringLiteral("Ardentis科技-VelmoraV1.1(") + QString::fromLatin1(VELMORA_VENDOR_HOST) + QLatin1Char(')');
    QCOMPARE(product::composeCaption(), expected);
}

void ProductTest::aboutTextHasSevenLinesWithItsBlanks()
{
    const QString text = product::aboutText();
    QVERIFY(!text.endsWith(QLatin1Char('\n')));
    // Every line break is a CR LF pair: no lone CR or LF anywhere.
    QCOMPARE(text.count(QLatin1Char('\r')), 6);
    QCOMPARE(text.count(QLatin1Char('\n')), 6);

    const QStringList lines = text.split(QStringLiteral("\r\n"));
    QCOMPARE(lines.size(), 7);
    QCOMPARE(lines.at(0),
             QStringLiteral("Ardentis软件科技〖") + QString::fromLatin1(VELMORA_VENDOR_HOST) + QStringLiteral("〗")
                 + QString(9, QLatin1Char(' ')));
    QCOMPARE(lines.at(2), QStringLiteral("联系QQ：") + QString::fromUtf8(VELMORA_CONTACT_QQ));
    QCOMPARE(lines.at(4), QStringLiteral("软件名称：Velmora免费版"));
    QCOMPARE(lines.at(6), QStringLiteral("软件版本：V1.1"));
    for (const int empty : {1, 3, 5})
        QVERIFY2(lines.at(empty).isEmpty(), qPrintable(QString::number(empty)));

    QCOMPARE(product::aboutTitle(), QStringLiteral("说明 "));
    QCOMPARE(product::aboutStyle, 64);
}

void ProductTest::homePageDiffersOnlyInTrailingSlash()
{
    const QString bare = product::homePageUrl(false);
    QCOMPARE(bare, QStringLiteral("http://") + QString::fromLatin1(VELMORA_VENDOR_HOST));
    QCOMPARE(product::homePageUrl(true), bare + QLatin1Char('/'));
}

QTEST_GUILESS_MAIN(ProductTest)
#include "tst_product.moc"
