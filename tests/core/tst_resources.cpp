#include <QFile>
#include <QImage>
#include <QTest>

// The icon the window and the executable use, as built in: every size present
// in the Qt resources without Q_INIT_RESOURCE, with alpha, and the Windows
// icon holding the same four images.
class ResourcesTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void pngIcons_data();
    void pngIcons();
    void windowsIconHoldsFourImages();
};

void ResourcesTest::pngIcons_data()
{
    QTest::addColumn<int>("size");
    for (const int size : {16, 32, 48, 64})
        QTest::addRow("%d px", size) << size;
}

void ResourcesTest::pngIcons()
{
    QFETCH(int, size);
    const QImage image(QStringLiteral(":/icons/velmora-%1.png").arg(size));
    QVERIFY(!image.isNull());
    QCOMPARE(image.size(), QSize(size, size));
    QVERIFY(image.hasAlphaChannel());
    // Transparent corners, an opaque middle: a tile, not a square.
    QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
    QCOMPARE(qAlpha(image.pixel(size / 2, size / 2)), 255);
}

void ResourcesTest::windowsIconHoldsFourImages()
{
    QFile file(QStringLiteral(VELMORA_ICO));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray ico = file.readAll();
    const auto u16 = [&ico](qsizetype at) { return quint8(ico.at(at)) | quint8(ico.at(at + 1)) << 8; };
    const auto u32 = [&](qsizetype at) { return quint32(u16(at)) | quint32(u16(at + 2)) << 16; };

    QVERIFY(ico.size() > 6);
    QCOMPARE(u16(0), 0);
    QCOMPARE(u16(2), 1); // an icon, not a cursor
    QCOMPARE(u16(4), 4);
    const int sizes[] = {16, 32, 48, 64};
    for (int i = 0; i < 4; ++i) {
        const qsizetype entry = 6 + 16 * i;
        QCOMPARE(int(quint8(ico.at(entry))), sizes[i]);
        QCOMPARE(int(quint8(ico.at(entry + 1))), sizes[i]);
        QCOMPARE(u16(entry + 6), 32); // bits per pixel
        const quint32 length = u32(entry + 8);
        const quint32 offset = u32(entry + 12);
        QVERIFY(offset + length <= quint32(ico.size()));
        // A 32-bit DIB of twice the height (colour and mask), as Windows expects.
        QCOMPARE(u32(offset), 40U);
        QCOMPARE(u32(offset + 4), quint32(sizes[i]));
        QCOMPARE(u32(offset + 8), quint32(2 * sizes[i]));
        QCOMPARE(u16(offset + 14), 32);
    }
}

QTEST_GUILESS_MAIN(ResourcesTest)
#include "tst_resources.moc"
