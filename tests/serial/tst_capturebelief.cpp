#include "serial/capturebelief.h"
#include "serial/captureflags.h"

#include <QtTest>

namespace {

QString answerName(StreamWatch::Answer answer)
{
    const char *const names[] = {"waiting", "streams", "started", "stopped", "none"};
    return QString::fromLatin1(names[int(answer)]);
}

} // namespace

// Splits "d0-500/50 p600" into its events: a kind, and the times from, to and step.
struct Event
{
    char kind;
    int from;
    int to;
    int step;
};

QVector<Event> parseEvents(const QString &events)
{
    QVector<Event> parsed;
    for (const QString &event : events.split(' ')) {
        const QStringList range = event.mid(1).split(QRegularExpression("[-/]"));
        const int from = range[0].toInt();
        parsed.append({event[0].toLatin1(), from, range.size() == 3 ? range[1].toInt() : from,
                       range.size() == 3 ? range[2].toInt() : 1});
    }
    return parsed;
}

// The stream watch and the belief on a clock of the test's, fed events at given times.
class TestCaptureBelief : public QObject
{
    Q_OBJECT

private slots:
    void evidence_data();
    void evidence();
    void silence();
    void noSilenceNoteBeforeAnswer();
    void transitions_data();
    void transitions();
};

void TestCaptureBelief::evidence_data()
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
    QTest::newRow("a stream after a key, no press") << 115200 << "k0 d50-3200/50" << true << "none";
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
    QTest::newRow("a short answer on a quiet line") << 115200 << "p0 d50-300/50 ?3000" << false << "started";
    QTest::newRow("a key does not blur a stop") << 115200 << "d0-500/50 p600 k700 ?3200" << false << "stopped";
    QTest::newRow("an answer to a key after a stop") << 115200 << "d0-500/50 p600 k700 d750-2750/50 ?6000" << false << "stopped";
    QTest::newRow("a stream after a key") << 115200 << "p0 k100 d150-3500/50" << true << "streams";
    QTest::newRow("a press deep in a pause of bursts") << 115200 << "d0-1000/50 d3500-4500/50 p6500 ?9100" << false << "stopped";
    QTest::newRow("a stop waits out the device's pauses") << 115200 << "d0-1000/50 d3500-4500/50 p4600 d4650-5000/50 ?7200" << false << "waiting";
    QTest::newRow("a start of a bursty device") << 115200 << "d0-1000/50 d3500-4500/50 p9000 d9050-9900/50 ?13000" << false << "started";
    QTest::newRow("a new line forgets the press") << 115200 << "d0-500/50 p600 n700 ?3200" << false << "none";
    // clang-format on
}

void TestCaptureBelief::evidence()
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
    for (const Event &event : parseEvents(events)) {
        for (now = event.from; now <= event.to; now += event.step) {
            switch (event.kind) {
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

void TestCaptureBelief::silence()
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

void TestCaptureBelief::noSilenceNoteBeforeAnswer()
{
    // Bursts of 1 s, pauses of 2.5 s, then a press 1.8 s into a pause that stops them: until the
    // answer is known the window shows the empty capture of a Start, which must not read as a
    // silent capture.
    qint64 now = 0;
    CaptureBelief belief([&now] { return now; });
    belief.connected("A", 115200);
    for (now = 0; now <= 8000; now += 50) {
        if (now % 3500 <= 1000)
            belief.delivered(100);
    }
    now = 9800;
    qint64 dueAt = now + belief.pressed().dueInMs;
    QVERIFY(belief.capturing());
    while (belief.capturing() && now < 20000) {
        QVERIFY2(belief.notedSilenceMs() < 0, qPrintable(QString::number(now - 9800)));
        now += 50;
        if (now >= dueAt) {
            const qint64 again = belief.due().dueInMs;
            dueAt = again >= 0 ? now + again : 1000000;
        }
    }
    QVERIFY2(!belief.capturing(), "the press was not found to be a stop");
    // Believed streaming, a pause is noted as before.
    for (now = 20000; now <= 24000; now += 50)
        belief.delivered(100);
    QVERIFY(belief.capturing());
    now = 26500;
    QCOMPARE(belief.notedSilenceMs(), qint64(2500));
}

void TestCaptureBelief::transitions_data()
{
    // clang-format off
    // Events as above, and "s1000" a typed "s", "o1000" a connection to another port, "l1000"
    // the device lost, "r1000" the lost device back on its port. The belief starts idle on a
    // fresh line, with a capture kept; the due checks it asks for come at their time.
    QTest::addColumn<QString>("events");
    // What the store was told, in order, and whether the device is believed to stream at the end.
    QTest::addColumn<QString>("store");
    QTest::addColumn<bool>("capturing");

    QTest::newRow("a start confirmed by a stream") << "p0 d100-1400/50 ?3000" << "begin confirm" << true;
    QTest::newRow("a start with a short answer") << "p0 d50-300/50 ?3000" << "begin confirm" << true;
    QTest::newRow("silence after a press confirms nothing") << "p0 ?3000" << "begin putBack" << true;
    QTest::newRow("a stop of a stream not followed") << "d0-1000/50 p1050 d1060-1200/50 ?4000" << "begin putBack" << false;
    QTest::newRow("a stream followed without a press") << "d0-2500/50" << "" << true;
    // Bursts of 1 s, pauses of 2.5 s; the press comes 2 s into a pause and stops them.
    QTest::newRow("bursts, a press deep in a pause") << "d0-1000/50 d3500-4500/50 d7000-8000/50 p10000 ?14000" << "begin putBack" << false;
    QTest::newRow("bursts, then a press that starts them") << "d0-1000/50 d3500-4500/50 p6500 ?10000 p16000 d16050-17000/50 d19500-20500/50 ?22000" << "begin putBack begin confirm" << true;
    QTest::newRow("a line every 2 s, a press between") << "d0-8000/2000 d8001 p9600 ?14000" << "begin putBack" << false;
    // A key typed 0.9 s after a press that stopped a stream not yet followed.
    QTest::newRow("a key in the answer window") << "d0-1000/50 p1050 d1060-1300/50 k1950 ?6000" << "begin putBack" << false;
    QTest::newRow("a key answered for 2 s") << "d0-1000/50 p1050 k1500 d1550-3550/50 ?8000" << "begin putBack" << false;
    QTest::newRow("a key answered for 2.9 s") << "d0-1000/50 p1050 k1500 d1550-4450/50 ?9000" << "begin putBack" << false;
    QTest::newRow("a stream after a key") << "d0-1000/50 p1050 k1500 d1550-5000/50" << "begin confirm" << true;
    // Two presses 0.2 s apart: the first stops the stream, the second starts it again.
    QTest::newRow("two presses on a stream") << "d0-1000/50 p1050 d1060-1200/50 p1250 d1300-8000/50 ?9000" << "begin putBack" << true;
    QTest::newRow("two presses on a quiet line") << "p0 p200 ?5000" << "begin putBack" << false;
    // The stop settles the start its stream confirmed, before it is watched itself.
    QTest::newRow("a stop within a second of a start") << "p0 d50-800/50 p800 d810-900/50 ?5000" << "begin confirm" << false;
    QTest::newRow("a start right after a tail, a stop") << "s0 d50-1000/50 s1000 d1010-1100/50 p1150 d1160-1300/50 p1300 d1310-1350/50 ?5000" << "begin confirm" << false;
    QTest::newRow("three quick presses on a stream") << "d0-1000/50 p1050 p1250 p1450 d1500-6000/50" << "begin putBack begin confirm" << true;
    QTest::newRow("a typed stop within a second") << "p0 d50-800/50 s800 d810-900/50 ?5000" << "begin confirm" << false;
    QTest::newRow("a typed start appends") << "s0 d50-3000/50 s3000 ?6000" << "" << false;
    QTest::newRow("another port starts idle") << "p0 d50-2000/50 o2100 ?5000" << "begin confirm" << false;
    QTest::newRow("the same port goes on") << "p0 d50-2000/50 n2100 ?5000" << "begin confirm" << true;
    QTest::newRow("a lost device after a start") << "p0 d50-500/50 l600 ?5000" << "begin confirm" << false;
    QTest::newRow("a lost device before an answer") << "d0-500/50 p550 l600 ?5000" << "begin putBack" << false;
    QTest::newRow("back streaming, the capture goes on") << "p0 d50-2000/50 l2100 r2200 d2250-5000/50" << "begin confirm" << true;
    QTest::newRow("back idle, a press continues the capture") << "p0 d50-2000/50 l2100 r2200 p3000 d3050-5000/50 ?7000" << "begin confirm restart" << true;
    QTest::newRow("back idle, a press and a stop") << "p0 d50-2000/50 l2100 r2200 p3000 d3050-5000/50 p5100 d5110-5200/50 ?9000" << "begin confirm restart" << false;
    QTest::newRow("lost twice before the press") << "p0 d50-2000/50 l2100 r2200 l2300 r2400 p3000 d3050-5000/50" << "begin confirm restart" << true;
    QTest::newRow("a press after a stop begins anew") << "p0 d50-2000/50 p2100 ?5000 l5100 r5200 p5300 d5350-7000/50 ?9000" << "begin confirm begin confirm" << true;
    QTest::newRow("lost while idle, a press begins anew") << "l0 r100 p200 d250-1000/50 ?4000" << "begin confirm" << true;
    QTest::newRow("connected by hand after a loss") << "p0 d50-2000/50 l2100 n2200 p3000 d3050-5000/50 ?7000" << "begin confirm begin confirm" << true;
    // A return is resumable only if the capture really ran at the loss: a Start still waiting
    // for its answer is put back, and the capture set aside again was not running.
    QTest::newRow("lost before the answer to a start after a stop") << "p0 d50-2000/50 p2100 ?5000 p6000 l6100 r6200 p7000 d7050-9000/50" << "begin confirm begin putBack begin confirm" << true;
    QTest::newRow("lost before the answer to a first start") << "p0 l100 r200 p1000 d1050-3000/50" << "begin putBack begin confirm" << true;
    QTest::newRow("lost after a start after a stop was confirmed") << "p0 d50-2000/50 p2100 ?5000 p6000 d6050-8000/50 ?9000 l9100 r9200 p10000 d10050-12000/50" << "begin confirm begin confirm restart" << true;
    QTest::newRow("lost with a short answer to a start in") << "p0 d50-2000/50 p2100 ?5000 p6000 d6050-6300/50 l6400 r6500 p7000 d7050-9000/50" << "begin confirm begin confirm restart" << true;
    QTest::newRow("lost before the answer to a restart") << "p0 d50-2000/50 l2100 r2200 p3000 l3100 r3200 p4000 d4050-6000/50" << "begin confirm restart restart" << true;
    QTest::newRow("back on the stream, a press stops it") << "p0 d50-2000/50 l2100 r2200 d2250-5000/50 p5100 d5110-5200/50 ?9000" << "begin confirm" << false;
    // clang-format on
}

void TestCaptureBelief::transitions()
{
    QFETCH(QString, events);
    QFETCH(QString, store);
    QFETCH(bool, capturing);
    constexpr qint32 Baud = 115200;
    qint64 now = 0;
    CaptureBelief belief([&now] { return now; });
    QStringList told;
    QVector<qint64> dueAt;
    const auto apply = [&](const CaptureBelief::Change &change) {
        if (change.confirmStart)
            told << "confirm";
        if (change.putBack)
            told << "putBack";
        if (change.beginStart)
            told << "begin";
        if (change.restarted)
            told << "restart";
        if (change.dueInMs >= 0)
            dueAt << now + change.dueInMs;
        // The flag follows the belief, and a change of it is told.
        QCOMPARE(captureState, belief.capturing() ? 1 : 0);
    };
    apply(belief.connected("A", Baud));
    const QVector<Event> parsed = parseEvents(events);
    const int end = parsed.last().to;
    for (now = 0; now <= end; ++now) {
        while (dueAt.removeOne(now))
            apply(belief.due());
        for (const Event &event : parsed) {
            if (now < event.from || now > event.to || (now - event.from) % event.step != 0)
                continue;
            const bool was = belief.capturing();
            CaptureBelief::Change change;
            switch (event.kind) {
            case 'd':
                change = belief.delivered(100);
                break;
            case 'p':
                change = belief.pressed();
                break;
            case 'k':
                change = belief.typed("v");
                break;
            case 's':
                change = belief.typed("s");
                break;
            case 'n':
                change = belief.connected("A", Baud);
                break;
            case 'o':
                change = belief.connected("B", Baud);
                break;
            case 'l':
                change = belief.lost();
                break;
            case 'r':
                change = belief.returned(Baud);
                break;
            default:
                break;
            }
            QCOMPARE(change.state, was != belief.capturing());
            apply(change);
        }
    }
    QCOMPARE(told.join(' '), store);
    QCOMPARE(belief.capturing(), capturing);
}

QTEST_GUILESS_MAIN(TestCaptureBelief)
#include "tst_capturebelief.moc"
