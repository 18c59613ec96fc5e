#include "plot/lineparser.h"
#include "plot/plotmodel.h"

#include <QtTest>

namespace {

// What the parser read, as text: "a=1,-,3" per line ('-' a position without a number), lines
// joined by ';', "(+N)" for values cut.
class Reader
{
public:
    Reader()
        : parser([this](const LineParser::Field *fields, int count, int total) {
            QStringList line;
            for (int i = 0; i < count; ++i) {
                while (line.size() < fields[i].position)
                    line << QStringLiteral("-");
                const QString value = QString::number(fields[i].value, 'g', 10);
                line << (fields[i].label.empty() ? value
                                                 : QString::fromLatin1(fields[i].label.data(),
                                                                       int(fields[i].label.size()))
                                 + '=' + value);
            }
            if (total > count)
                line.last() += QStringLiteral("(+%1)").arg(total - count);
            lines << line.join(',');
        })
    { }
    void feed(const QByteArray &bytes) { parser.feed(bytes.constData(), size_t(bytes.size())); }
    QString text() const { return lines.join(';'); }

private:
    QStringList lines;
    LineParser parser;
};

} // namespace

class TestLineParser : public QObject
{
    Q_OBJECT

private slots:
    void lines_data();
    void lines();
    void channels_data();
    void channels();
};

void TestLineParser::lines_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("read");
    QTest::newRow("LF") << QByteArray("1\n-2\n") << "1;-2";
    QTest::newRow("CR") << QByteArray("1\r-2\r") << "1;-2";
    QTest::newRow("CRLF") << QByteArray("1\r\n-2\r\n") << "1;-2";
    QTest::newRow("mixed ends, empty lines") << QByteArray("1\n\r2\r\n\n\n3\r") << "1;2;3";
    QTest::newRow("unfinished line waits") << QByteArray("1\n2") << "1";
    QTest::newRow("separators") << QByteArray("1 2\t3,4;5\n") << "1,2,3,4,5";
    QTest::newRow("blanks beside separators")
        << QByteArray("1, 2\n1 ,2\n1 , 2\n 1\t\t2 \n1,2,\n1;2; \n") << "1,2;1,2;1,2;1,2;1,2;1,2";
    QTest::newRow("empty fields") << QByteArray(" ,1;; \t2 ,\n1,,,4\n") << "-,1,-,2;1,-,-,4";
    QTest::newRow("labels") << QByteArray("a:1 b=2,c_3:-4\n") << "a=1,b=2,c_3=-4";
    QTest::newRow("label, then its value") << QByteArray("a: 1; b= 2\n") << "a=1,b=2";
    QTest::newRow("exponents and signs")
        << QByteArray("-1.5e3 +2E-2 .5 7. 1e+2 -0.25\n") << "-1500,0.02,0.5,7,100,-0.25";
    QTest::newRow("not numbers") << QByteArray("1.2.3 e5 1e 0x10 nan inf 12abc - . +- 1,5e\n")
                                 << "-,-,-,-,-,-,-,-,-,-,1";
    // A field that is not a number is a gap in its own channel, not a shift of the ones after.
    for (const char *bad : {"NaN", "inf", "0x10", "1e", "1e400", "12abc", "", "\xc3\xa9:4"}) {
        QTest::addRow("10 %s 30", bad)
            << QByteArray("10 ").append(bad).append(" 30\n10,").append(bad).append(",30\n")
            << (*bad ? "10,-,30;10,-,30" : "10,30;10,-,30");
    }
    QTest::newRow("too large to hold") << QByteArray("1e999 3\n") << "-,3";
    QTest::newRow("words around numbers") << QByteArray("x 1 y 2\nhello\n3\n") << "-,1,-,2;3";
    QTest::newRow("labels take positions")
        << QByteArray("a:1,,3\nb: 2 4\nc:,5\n") << "a=1,-,3;b=2,4;-,5";
    QTest::newRow("zero bytes") << QByteArray("1\0002\n\0\n3\0\n4\n", 11) << "4";
    QTest::newRow("invalid UTF-8") << QByteArray("\xff\xfe 5 \xc3\n6\xc3\n") << "-,5";
    QTest::newRow("non-ASCII label") << QByteArray("\xc3\xa9:4\n:5\n6\n") << "6";
    QTest::newRow("nine values") << QByteArray("1 2 3 4 5 6 7 8 9\n") << "1,2,3,4,5,6,7,8(+1)";
    QTest::newRow("4,096 bytes kept") << QByteArray("1" + QByteArray(4094, ' ') + "2\n") << "1,2";
    QTest::newRow("4,097 bytes dropped")
        << QByteArray("1" + QByteArray(4095, ' ') + "2\n7\n") << "7";
    QTest::newRow("long line without end dropped")
        << QByteArray(QByteArray(100000, '5') + "\r\n8\n") << "8";
}

void TestLineParser::lines()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, read);
    // Whole, cut in two at every byte, and a byte at a time.
    for (int cut = 0; cut <= bytes.size(); cut += bytes.size() > 5000 ? 997 : 1) {
        Reader reader;
        reader.feed(bytes.left(cut));
        reader.feed(bytes.mid(cut));
        QVERIFY2(reader.text() == read,
                 qPrintable(QStringLiteral("cut at %1: %2").arg(cut).arg(reader.text())));
    }
    if (bytes.size() < 5000) {
        Reader reader;
        for (char c : bytes)
            reader.feed(QByteArray(1, c));
        QCOMPARE(reader.text(), read);
    }
}

void TestLineParser::channels_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("names");
    // Each sample's values by channel, '-' where a channel had none.
    QTest::addColumn<QString>("samples");
    QTest::addColumn<bool>("tooMany");
    QTest::newRow("channels appear") << QByteArray("1\n2,3\n4,5,6\n") << "ch1 ch2 ch3"
                                     << "1-- 23- 456" << false;
    QTest::newRow("channels go quiet") << QByteArray("1,2,3\n4\n") << "ch1 ch2 ch3"
                                       << "123 4--" << false;
    QTest::newRow("by label") << QByteArray("a:1,b:2\nb:3\nc=4 a=5\n") << "a b c"
                              << "12- -3- 5-4" << false;
    QTest::newRow("a gap keeps the channels")
        << QByteArray("1 NaN 3\n4,,6\n7,8,9\n") << "ch1 ch3 ch2"
        << "13- 46- 798" << false;
    QTest::newRow("nine values") << QByteArray("1 2 3 4 5 6 7 8 9\n")
                                 << "ch1 ch2 ch3 ch4 ch5 ch6 ch7 ch8"
                                 << "12345678" << true;
    QTest::newRow("nine labels")
        << QByteArray("a:1\nb:1\nc:1\nd:1\ne:1\nf:1\ng:1\nh:1\ni:1\n") << "a b c d e f g h"
        << "1------- -1------ --1----- ---1---- ----1--- -----1-- ------1- -------1" << true;
}

void TestLineParser::channels()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, names);
    QFETCH(QString, samples);
    QFETCH(bool, tooMany);
    PlotModel model;
    model.append(bytes);
    QStringList shownNames;
    for (int c = 0; c < model.channelCount(); ++c)
        shownNames << model.channelName(c);
    QCOMPARE(shownNames.join(' '), names);
    QStringList held;
    for (std::int64_t i = 0; i < model.history().sampleCount(); ++i) {
        QString sample;
        for (int c = 0; c < model.channelCount(); ++c) {
            float v = 0;
            sample += model.history().value(c, i, &v) ? QString::number(double(v))
                                                      : QStringLiteral("-");
        }
        held << sample;
    }
    QCOMPARE(held.join(' '), samples);
    QCOMPARE(model.tooManyChannels(), tooMany);
}

QTEST_GUILESS_MAIN(TestLineParser)
#include "tst_lineparser.moc"
