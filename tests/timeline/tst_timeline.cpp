#include "timeline/sidecars.h"
#include "timeline/timerecord.h"

#include <QRandomGenerator>
#include <QtTest>

namespace {

// What the program reads of a device that sends bytesPerSecond steadily, through an adapter
// that hands bytes over in frames of frameMicros: it reads every readMicros, each read up to
// jitterMicros late, and every stallEvery reads the event loop is held stallMicros. The device
// is silent for silenceMicros halfway. A driver that holds bytes back up to heldMicros makes each
// read find less than what was sent.
QVector<TimePoint> deliveries(qint64 bytesPerSecond, qint64 frameMicros, qint64 readMicros,
                              qint64 jitterMicros, int stallEvery, qint64 stallMicros,
                              qint64 silenceMicros, qint64 heldMicros)
{
    QRandomGenerator random(7);
    QVector<TimePoint> points;
    qint64 now = 0;
    for (int i = 1; i <= 20000; ++i) {
        now += readMicros + (jitterMicros > 0 ? qint64(random.bounded(int(jitterMicros))) : 0)
            + (stallEvery > 0 && i % stallEvery == 0 ? stallMicros : 0);
        if (i == 10000)
            now += silenceMicros;
        // The device's clock stood still during the silence.
        const qint64 sending = now - (i >= 10000 ? silenceMicros : 0)
            - (heldMicros > 0 ? qint64(random.bounded(int(heldMicros))) : 0);
        const qint64 arrived = sending / frameMicros * frameMicros * bytesPerSecond / 1000000;
        if (points.isEmpty() || arrived > points.constLast().offset)
            points.append({arrived, now});
    }
    return points;
}

} // namespace

// The time record's merging, and the sidecars' cells.
class TestTimeline : public QObject
{
    Q_OBJECT

private slots:
    void mergeKeepsEveryDelivery_data();
    void mergeKeepsEveryDelivery();
    void linesOfOffsets_data();
    void linesOfOffsets();
    void labelsStayOneCell_data();
    void labelsStayOneCell();
};

void TestTimeline::mergeKeepsEveryDelivery_data()
{
    QTest::addColumn<qint64>("rate");
    QTest::addColumn<qint64>("frameMicros");
    QTest::addColumn<qint64>("jitterMicros");
    QTest::addColumn<int>("stallEvery");
    QTest::addColumn<qint64>("silenceMicros");
    QTest::addColumn<qint64>("heldMicros");
    QTest::addColumn<int>("mostPoints");
    // 4 Mbaud in USB frames of 1 ms; 115200 baud through the 16 ms latency timer of an adapter.
    QTest::newRow("4 Mbaud") << qint64(400000) << qint64(1000) << qint64(0) << 0 << qint64(0)
                             << qint64(0) << 2;
    QTest::newRow("115200") << qint64(11520) << qint64(16000) << qint64(0) << 0 << qint64(0)
                            << qint64(0) << 2;
    // Both ends of the silence stay.
    QTest::newRow("a silence") << qint64(400000) << qint64(1000) << qint64(0) << 0
                               << qint64(3000000) << qint64(0) << 5;
    QTest::newRow("read late") << qint64(400000) << qint64(1000) << qint64(3000) << 0 << qint64(0)
                               << qint64(0) << 4;
    // Each stall costs a point or two.
    QTest::newRow("stalls") << qint64(400000) << qint64(1000) << qint64(500) << 1000 << qint64(0)
                            << qint64(0) << 2 + 2 * 20;
    // Bytes held back by the driver at random: the record merges less, and stays true.
    QTest::newRow("held back") << qint64(400000) << qint64(1000) << qint64(0) << 0 << qint64(0)
                               << qint64(3000) << 2000;
}

// Whatever is left out, the record places each delivery between the read before it and its own,
// within the tolerance.
void TestTimeline::mergeKeepsEveryDelivery()
{
    QFETCH(qint64, rate);
    QFETCH(qint64, frameMicros);
    QFETCH(qint64, jitterMicros);
    QFETCH(int, stallEvery);
    QFETCH(qint64, silenceMicros);
    QFETCH(qint64, heldMicros);
    QFETCH(int, mostPoints);
    const QVector<TimePoint> raw = deliveries(rate, frameMicros, 1000, jitterMicros, stallEvery,
                                              30000, silenceMicros, heldMicros);
    TimeRecord record;
    for (const TimePoint &point : raw)
        record.add(point);
    for (int i = 1; i < raw.size(); ++i)
        QVERIFY2(record.places(raw.at(i), raw.at(i - 1).micros),
                 qPrintable(QStringLiteral("%1 bytes at %2 us placed at %3 us")
                                .arg(raw.at(i).offset)
                                .arg(raw.at(i).micros)
                                .arg(record.microsAt(raw.at(i).offset))));
    QVERIFY2(record.size() <= mostPoints, qPrintable(QString::number(record.size())));
    const QVector<TimePoint> kept = record.points();
    QCOMPARE(kept.first().offset, raw.first().offset);
    QCOMPARE(kept.last().offset, raw.last().offset);
}

void TestTimeline::linesOfOffsets_data()
{
    QTest::addColumn<QList<QByteArray>>("blocks");
    QTest::addColumn<QVector<qint64>>("offsets");
    QTest::addColumn<QVector<qint64>>("lines");
    const QList<QByteArray> text{"a\nb", "\n", "c\n\nd"};
    QTest::newRow("in any order, across blocks")
        << text << QVector<qint64>{8, 0, 2, 4, 3, 6} << QVector<qint64>{5, 1, 2, 3, 2, 4};
    QTest::newRow("at a block's end") << text << QVector<qint64>{3} << QVector<qint64>{2};
    QTest::newRow("past the bytes") << text << QVector<qint64>{99} << QVector<qint64>{5};
    QTest::newRow("nothing fed") << QList<QByteArray>{} << QVector<qint64>{0, 5}
                                 << QVector<qint64>{1, 1};
}

// The line an event lands on: one more than the line ends before its offset.
void TestTimeline::linesOfOffsets()
{
    QFETCH(QList<QByteArray>, blocks);
    QFETCH(QVector<qint64>, offsets);
    QFETCH(QVector<qint64>, lines);
    Sidecars::LineCounter counter(offsets);
    for (const QByteArray &block : blocks)
        counter.feed(block);
    QCOMPARE(counter.lines(), lines);
}

void TestTimeline::labelsStayOneCell_data()
{
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("cell");
    QTest::newRow("tab and line ends") << "a\tb\nc\r"
                                       << "a\\tb\\nc\\r";
    QTest::newRow("a backslash before a t") << "C:\\temp"
                                            << "C:\\\\temp";
    QTest::newRow("plain") << "contraction 3"
                           << "contraction 3";
}

void TestTimeline::labelsStayOneCell()
{
    QFETCH(QString, label);
    QFETCH(QString, cell);
    QCOMPARE(Sidecars::escape(label), cell);
    QCOMPARE(Sidecars::unescape(cell), label);
}

QTEST_GUILESS_MAIN(TestTimeline)
#include "tst_timeline.moc"
