#include "export/samplereader.h"
#include "plot/channelmap.h"
#include "plot/lineparser.h"

#include <QtTest>

#include <cstring>

namespace {

struct Read
{
    QStringList names;
    // Per sample: each channel's value as text ("-" for none), bit for bit.
    QStringList samples;
    QVector<qint64> ends;
};

QString valueText(unsigned present, const double *values, int channels)
{
    QStringList out;
    for (int c = 0; c < channels; ++c) {
        if (!(present & (1u << c))) {
            out << "-";
            continue;
        }
        quint64 bits = 0;
        std::memcpy(&bits, &values[c], sizeof bits);
        out << QString::number(values[c], 'g', 17) + '/' + QString::number(bits, 16);
    }
    return out.join(' ');
}

// As the plot reads the same bytes.
Read plotsReading(const QByteArray &bytes)
{
    Read read;
    ChannelMap map;
    QVector<QPair<unsigned, QVector<double>>> raw;
    LineParser parser([&](const LineParser::Field *fields, int count, int) {
        unsigned present = 0;
        QVector<double> values(ChannelMap::maxChannels);
        for (int i = 0; i < count; ++i) {
            const int channel = map.channelFor(fields[i]);
            if (channel >= 0) {
                values[channel] = fields[i].value;
                present |= 1u << channel;
            }
        }
        if (present)
            raw.append({present, values});
    });
    parser.feed(bytes.constData(), std::size_t(bytes.size()));
    for (const auto &[present, values] : raw)
        read.samples << valueText(present, values.constData(), map.count());
    for (int c = 0; c < map.count(); ++c)
        read.names << map.name(c);
    return read;
}

Read readersReading(const QByteArray &bytes, int piece, qint64 *skipped)
{
    Read read;
    SampleReader reader;
    QVector<SampleReader::Sample> got;
    reader.setSink([&](const SampleReader::Sample &s) {
        got.append(s);
        return true;
    });
    for (int at = 0; at < bytes.size(); at += piece)
        reader.feed(bytes.constData() + at, std::size_t(qMin(piece, int(bytes.size()) - at)), at);
    reader.end();
    for (const SampleReader::Sample &s : got) {
        read.samples << valueText(s.present, s.values, reader.channels().count());
        read.ends << s.endOffset;
    }
    for (int c = 0; c < reader.channels().count(); ++c)
        read.names << reader.channels().name(c);
    *skipped = reader.skippedLines();
    return read;
}

} // namespace

// The export reads a capture exactly as the plot does, however the bytes are split.
class TestSampleReader : public QObject
{
    Q_OBJECT

private slots:
    void readsAsThePlot_data();
    void readsAsThePlot();
};

void TestSampleReader::readsAsThePlot_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("skipped");
    QTest::newRow("plain") << QByteArray("1,2,3\r\n-4,5,6\r\n") << 0;
    QTest::newRow("signs and zeros") << QByteArray("-0,+5,007\n0,-00,+0\n") << 0;
    QTest::newRow("decimals and exponents")
        << QByteArray("1.5,.5,5.\n1e5,-2.5E-3,1e400\n123456789012345678,1234567890123456\n") << 0;
    QTest::newRow("separators") << QByteArray("1 2\t3;4\n1, 2 ,3\n 1 2 \n1,\n,1\n1,,2\n") << 0;
    QTest::newRow("not numbers") << QByteArray("1 x 3\nx\n0x10,2\n+,-,.\n\n\n# hi\n") << 3;
    QTest::newRow("labels") << QByteArray("a:1 b=2\nb:3\nc: 4, 5\n1,2\n") << 0;
    QTest::newRow("nine fields") << QByteArray("1,2,3,4,5,6,7,8,9\n1\n") << 0;
    QTest::newRow("line ends") << QByteArray("1\r2\n3\r\n\r\n4") << 1;
    // The second fits, but is no number a double holds.
    // Dropped as too long, and one that fits but is no number a double holds.
    QTest::newRow("too long") << QByteArray(5000, '1') + "\n" + QByteArray(4096, '2') + "\n"
            + QByteArray(4094, ' ')
            + "7\n" << 2;
}

void TestSampleReader::readsAsThePlot()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, skipped);
    const Read plot = plotsReading(bytes);
    for (const int piece : {1, 3, 7, 4097, int(bytes.size())}) {
        qint64 gotSkipped = -1;
        const Read got = readersReading(bytes, piece, &gotSkipped);
        QCOMPARE(got.names, plot.names);
        QCOMPARE(got.samples, plot.samples);
        QCOMPARE(gotSkipped, qint64(skipped));
        // Each sample's line ended where the next byte is a line end's or the next line's.
        for (qint64 end : got.ends) {
            const char before = bytes.at(int(end) - 1);
            QVERIFY(before == '\n' || before == '\r');
        }
    }
}

QTEST_GUILESS_MAIN(TestSampleReader)
#include "tst_samplereader.moc"
