#include "serial/streamwatch.h"

#include <QtTest>

// The evidence that a device streams on its own, from the timing of deliveries alone.
class TestStreamWatch : public QObject
{
    Q_OBJECT

private slots:
    void streamEvidence_data();
    void streamEvidence();
};

void TestStreamWatch::streamEvidence_data()
{
    // clang-format off
    QTest::addColumn<int>("baud");
    QTest::addColumn<QList<int>>("times"); // of deliveries in ms; -1: a byte sent
    QTest::addColumn<bool>("stream");

    QList<int> second;
    for (int t = 0; t <= 1100; t += 50)
        second << t;
    QTest::newRow("over a second") << 115200 << second << true;
    QTest::newRow("a tail after a stop") << 115200 << second.mid(0, 20) << false;
    QTest::newRow("a byte sent meanwhile") << 115200 << (QList<int>{0, 100, -1} + second.mid(4)) << false;
    QTest::newRow("a pause") << 115200 << QList<int>{0, 100, 200, 300, 400, 1000, 1200, 1350} << false;
    QTest::newRow("a slow line's tail") << 1200 << second << false;
    // clang-format on
}

void TestStreamWatch::streamEvidence()
{
    QFETCH(int, baud);
    QFETCH(QList<int>, times);
    QFETCH(bool, stream);
    StreamWatch watch;
    bool shown = false;
    for (const int t : qAsConst(times)) {
        if (t < 0)
            watch.restart();
        else
            shown = watch.delivered(baud, t);
    }
    QCOMPARE(shown, stream);
}

QTEST_APPLESS_MAIN(TestStreamWatch)
#include "tst_streamwatch.moc"
