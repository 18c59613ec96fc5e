#include "serial/receivedtext.h"

#include <QtTest>

using Pieces = QList<QByteArray>;

// Bytes to text and back: nothing lost, whatever the bytes and however they are cut.
class TestReceivedText : public QObject
{
    Q_OBJECT

private slots:
    void decodes_data();
    void decodes();
    void anyCutGivesTheSameText();
    void smallDeliveriesShareEntries();
};

void TestReceivedText::decodes_data()
{
    // clang-format off
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");

    const auto esc = [](ushort byte) { return QChar(ushort(0xdc00 + byte)); };
    QTest::newRow("ASCII, CRLF, zero byte") << QByteArray("a\r\n\0b", 5) << QString::fromLatin1("a\r\n\0b", 5);
    QTest::newRow("2, 3 and 4 bytes") << QByteArray("\xc2\xb5\xe2\x82\xac\xf0\x9f\x98\x80")
                                      << QString::fromUtf8("µ€😀");
    QTest::newRow("Latin-1 micro sign") << QByteArray("12\xb5V") << QString("12") + esc(0xb5) + "V";
    QTest::newRow("truncated at the end") << QByteArray("a\xe2\x82") << QString("a") + esc(0xe2) + esc(0x82);
    QTest::newRow("truncated in the middle") << QByteArray("\xe2\x82z") << QString(esc(0xe2)) + esc(0x82) + "z";
    QTest::newRow("overlong") << QByteArray("\xc0\xaf\xe0\x80\xaf") << QString(esc(0xc0)) + esc(0xaf) + esc(0xe0) + esc(0x80) + esc(0xaf);
    QTest::newRow("encoded surrogate") << QByteArray("\xed\xb2\x80") << QString(esc(0xed)) + esc(0xb2) + esc(0x80);
    QTest::newRow("above U+10FFFF") << QByteArray("\xf4\x90\x80\x80") << QString(esc(0xf4)) + esc(0x90) + esc(0x80) + esc(0x80);
    QTest::newRow("lone continuation, 0xff") << QByteArray("\x80\xff") << QString(esc(0x80)) + esc(0xff);
    // The low half of this pair lies in the escapes' range: it must stay a character.
    QTest::newRow("U+10080") << QByteArray("\xf0\x90\x82\x80") << QString::fromUtf8("\xf0\x90\x82\x80");
    // clang-format on
}

void TestReceivedText::decodes()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(decodeReceivedBytes(bytes), text);
    QCOMPARE(encodeReceivedText(text), bytes);
    QCOMPARE(encodedSize(text), qint64(bytes.size()));
}

void TestReceivedText::anyCutGivesTheSameText()
{
    static const char raw[] = "ab\xc2\xb5\xe2\x82\xac\xf0\x9f\x98\x80\xb5\xe2\x82\r\n\x00\xff"
                              "\xf0\x90\x82\x80z";
    const QByteArray bytes(raw, sizeof raw - 1);
    const QString whole = decodeReceivedBytes(bytes);
    // Every way of cutting the bytes into three pieces, through the receive step itself.
    for (int i = 0; i <= bytes.size(); ++i) {
        for (int j = i; j <= bytes.size(); ++j) {
            ReceiveDecoder decoder;
            QStringList store;
            for (const QByteArray &piece : {bytes.left(i), bytes.mid(i, j - i), bytes.mid(j)})
                receiveDelivery(piece, &decoder, &store);
            const QString text = store.join(QString()) + decoder.pendingText();
            QVERIFY2(text == whole, qPrintable(QStringLiteral("cut at %1 and %2").arg(i).arg(j)));
        }
    }
    QCOMPARE(encodeReceivedText(whole), bytes);
}

void TestReceivedText::smallDeliveriesShareEntries()
{
    // A day of tiny deliveries must not cost a string and a list slot each; the indicator,
    // counting only what came since it last counted, must not count the last entry twice.
    ReceiveDecoder decoder;
    QStringList store;
    StoreSize size;
    for (int i = 0; i < 10000; ++i)
        receiveDelivery("x", &decoder, &store);
    QCOMPARE(size.update(store), qint64(10000));
    receiveDelivery(QByteArray(10000, 'y'), &decoder, &store);
    QCOMPARE(size.update(store), qint64(20000));
    QVERIFY2(store.size() <= 4, qPrintable(QString::number(store.size())));
    QCOMPARE(store.join(QString()), QString(10000, 'x') + QString(10000, 'y'));
}

QTEST_APPLESS_MAIN(TestReceivedText)
#include "tst_receivedtext.moc"
