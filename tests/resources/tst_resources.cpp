#include <QDir>
#include <QFile>
#include <QImage>
#include <QtTest>

// The icons are compiled in; their sizes and PNG kinds are part of what is shipped.
class TestResources : public QObject
{
    Q_OBJECT

private slots:
    void bundleHoldsOnlyTheIcons();
    void iconKinds_data();
    void iconKinds();
};

void TestResources::bundleHoldsOnlyTheIcons()
{
    // Each of them is a row of iconKinds.
    QCOMPARE(QDir(QStringLiteral(":/images")).count(), 8u);
}

void TestResources::iconKinds_data()
{
    // clang-format off
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("bitDepth");
    QTest::addColumn<int>("colorType");

    const int rgba = 6, palette = 3;
    for (const char *name :
         {"connect", "disconnect", "settings", "clear", "application-exit", "tarvex-terminal"})
        QTest::newRow(name) << QString::fromLatin1(name) << 128 << 8 << rgba;
    QTest::newRow("startstop_a") << "startstop_a" << 200 << 8 << palette;
    QTest::newRow("startstop_b") << "startstop_b" << 200 << 4 << palette;
    // clang-format on
}

void TestResources::iconKinds()
{
    QFETCH(QString, file);
    QFETCH(int, size);
    QFETCH(int, bitDepth);
    QFETCH(int, colorType);

    QFile png(QStringLiteral(":/images/%1.png").arg(file));
    QVERIFY(png.open(QIODevice::ReadOnly));
    const QByteArray head = png.read(26);
    // Signature, then the IHDR chunk: width, height, bit depth, colour type.
    QCOMPARE(head.left(8), QByteArray("\x89PNG\r\n\x1a\n"));
    QCOMPARE(head.mid(12, 4), QByteArray("IHDR"));
    QCOMPARE(int(uchar(head.at(24))), bitDepth);
    QCOMPARE(int(uchar(head.at(25))), colorType);
    const QImage image(png.fileName());
    QCOMPARE(image.size(), QSize(size, size));
}

QTEST_MAIN(TestResources)
#include "tst_resources.moc"
