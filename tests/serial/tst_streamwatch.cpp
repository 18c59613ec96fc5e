#include "serial/streamwatch.h"

#include <QtTest>

namespace {

QString answerName(StreamWatch::Answer answer)
{
    const char *const names[] = {"waiting", "streams", "stopped", "none"};
    return QString::fromLatin1(names[int(answer)]);
}

} // namespace

// The stream watch on a clock of the test's, fed events at given times.
class TestStreamWatch : public QObject
{
    Q_OBJECT

private slots:
    void evidence_data();
    void evidence();
    void silence();
};

void TestStreamWatch::evidence_data()
{
    // clang-format off
    QTest::addColumn<int>("baud");
    // Events at times in ms: "d0-500/50" deliveries of 100 bytes every 50 ms, "d700" one
    // delivery, "b700" one of 1 MiB, "p600" a press, "k600" a key sent, "n600" a new line,
    // "?3000" a look at the answer.
    QTest::addColumn<QString>("events");
    QTest::addColumn<bool>("stream"); // whether the last delivery showed a stream
    // The press's answer: the first other than "waiting", or the last one.
    QTest::addColumn<QString>("answer");

    QTest::newRow("over two seconds") << 115200 << "d0-2100/50" << true << "none";
    QTest::newRow("under two seconds") << 115200 << "d0-1900/50" << false << "none";
    QTest::newRow("bursts of 0.5 s, pauses of 0.6 s") << 115200 << "d0-500/50 d1100-1600/50 d2200-2300/50" << true << "none";
    QTest::newRow("pauses of a second") << 115200 << "d0-500/50 d1500-2000/50 d3000-3100/50" << true << "none";
    QTest::newRow("a pause too long") << 115200 << "d0-1000/50 d2600-3700/50" << false << "none";
    QTest::newRow("a slow line's tail") << 1200 << "d0-4200/50" << false << "none";
    QTest::newRow("a 2 s answer to a key") << 115200 << "k0 d50-2050/50" << false << "none";
    QTest::newRow("a stream after a key") << 115200 << "k0 d50-3200/50" << true << "none";
    QTest::newRow("a tail after a stop") << 115200 << "d0-500/50 p550 d550-1000/50 ?3100" << false << "stopped";
    QTest::newRow("too early to tell") << 115200 << "d0-500/50 p550 d550-1000/50 ?3000" << false << "waiting";
    QTest::newRow("a press between bursts stops them") << 115200 << "d0-500/50 p1000 ?3600" << false << "stopped";
    QTest::newRow("a slow line's tail after a stop") << 1200 << "d0-500/50 p600 d650-4500/100 ?6400" << false << "stopped";
    QTest::newRow("a start") << 115200 << "p0 d100-1400/50" << false << "streams";
    QTest::newRow("a start of bursts") << 115200 << "p0 d0-500/50 d1100-1400/50" << false << "streams";
    QTest::newRow("a stream that was not stopped") << 115200 << "d0-500/50 p500 d550-1900/50" << false << "streams";
    QTest::newRow("a tail read late") << 115200 << "d0-500/50 p550 d1600 ?4000" << false << "stopped";
    QTest::newRow("late data that goes on") << 115200 << "d0-500/50 p550 d3000-3300/50" << false << "streams";
    QTest::newRow("more than a backlog") << 115200 << "d0-500/50 p550 b600 d610" << false << "streams";
    QTest::newRow("a backlog") << 115200 << "d0-500/50 p550 b600 ?3100" << false << "stopped";
    QTest::newRow("a silent device") << 115200 << "p0 ?2600" << false << "none";
    QTest::newRow("a key blurs the answer") << 115200 << "d0-500/50 p600 k700 ?3200" << false << "none";
    QTest::newRow("a new line forgets the press") << 115200 << "d0-500/50 p600 n700 ?3200" << false << "none";
    // clang-format on
}

void TestStreamWatch::evidence()
{
    QFETCH(int, baud);
    QFETCH(QString, events);
    QFETCH(bool, stream);
    QFETCH(QString, answer);
    qint64 now = 0;
    StreamWatch watch([&now] { return now; });
    bool shown = false;
    QString told;
    const auto look = [&] {
        if (told.isEmpty() || told == "waiting")
            told = answerName(watch.answer(baud));
    };
    for (const QString &event : events.split(' ')) {
        const QStringList range = event.mid(1).split(QRegularExpression("[-/]"));
        const int from = range[0].toInt();
        const int to = range.size() == 3 ? range[1].toInt() : from;
        const int step = range.size() == 3 ? range[2].toInt() : 1;
        for (now = from; now <= to; now += step) {
            switch (event[0].toLatin1()) {
            case 'd':
                shown = watch.delivered(baud, 100);
                look();
                break;
            case 'b':
                watch.delivered(baud, StreamWatch::BacklogBytes);
                look();
                break;
            case 'p':
                watch.pressed();
                told.clear();
                break;
            case 'k':
                watch.sent();
                break;
            case 'n':
                watch.newLine();
                break;
            default:
                look();
            }
        }
    }
    look();
    QCOMPARE(shown, stream);
    QCOMPARE(told, answer);
}

void TestStreamWatch::silence()
{
    qint64 now = 0;
    StreamWatch watch([&now] { return now; });
    now = 500;
    watch.delivered(9600, 100);
    now = 2000;
    QCOMPARE(watch.silentMs(), qint64(1500));
    watch.pressed(); // counted from the press
    now = 2100;
    QCOMPARE(watch.silentMs(), qint64(100));
    QCOMPARE(StreamWatch::silenceNoteMs(9600), qint64(2000));
    QCOMPARE(StreamWatch::silenceNoteMs(1200), qint64(4266));
}

QTEST_GUILESS_MAIN(TestStreamWatch)
#include "tst_streamwatch.moc"
