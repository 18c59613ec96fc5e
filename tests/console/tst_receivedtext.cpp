#include "console/receivedtext.h"

#include <QtTest>

using Pieces = QList<QByteArray>;

// Bytes to text for the console: every byte accounted for, however the bytes are cut.
class TestReceivedText : public QObject
{
    Q_OBJECT

private slots:
    void decodes_data();
    void decodes();
    void anyCutGivesTheSameText();
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
    // The rest of the character may still come.
    QTest::newRow("truncated at the end") << QByteArray("a\xe2\x82") << QString("a");
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
    ReceiveDecoder decoder;
    QCOMPARE(decoder.decode(bytes), text);
}

void TestReceivedText::anyCutGivesTheSameText()
{
    static const char raw[] = "ab\xc2\xb5\xe2\x82\xac\xf0\x9f\x98\x80\xb5\xe2\x82\r\n\x00\xff"
                              "\xf0\x90\x82\x80z";
    const QByteArray bytes(raw, sizeof raw - 1);
    const QString whole = ReceiveDecoder().decode(bytes);
    // Every way of cutting the bytes into three pieces.
    for (int i = 0; i <= bytes.size(); ++i) {
        for (int j = i; j <= bytes.size(); ++j) {
            ReceiveDecoder decoder;
            QString text;
            for (const QByteArray &piece : {bytes.left(i), bytes.mid(i, j - i), bytes.mid(j)})
                text += decoder.decode(piece);
            QVERIFY2(text == whole, qPrintable(QStringLiteral("cut at %1 and %2").arg(i).arg(j)));
        }
    }
}

QTEST_APPLESS_MAIN(TestReceivedText)
#include "tst_receivedtext.moc"
