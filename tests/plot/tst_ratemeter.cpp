#include "plot/plotmodel.h"
#include "plot/ratemeter.h"

#include <QtTest>

// The measured sample rate, whatever the bursts in which the samples come.
class TestRateMeter : public QObject
{
    Q_OBJECT

private slots:
    void rate_data();
    void rate();
};

void TestRateMeter::rate_data()
{
    QTest::addColumn<int>("lines"); // a delivery
    QTest::addColumn<int>("everyMs");
    QTest::addColumn<int>("measured");
    QTest::newRow("a line a millisecond") << 1 << 1 << 1000;
    QTest::newRow("USB bursts") << 64 << 64 << 1000;
    QTest::newRow("fast") << 37 << 3 << 12333;
    QTest::newRow("slow") << 1 << 12 << 83;
}

void TestRateMeter::rate()
{
    QFETCH(int, lines);
    QFETCH(int, everyMs);
    QFETCH(int, measured);
    static std::int64_t now = 0;
    now = 0;
    // Through the model, which counts a sample per line on its clock.
    PlotModel model;
    model.setClock([] { return now; });
    QByteArray delivery;
    for (int i = 0; i < lines; ++i)
        delivery += "5\r\n";
    // One delivery, early on the clock, tells no rate.
    now = 400;
    model.append(delivery);
    QCOMPARE(model.rate(), 0.0);
    model.clear();
    for (now = 0; now < 5000; now += everyMs)
        model.append(delivery);
    QCOMPARE(qRound(model.rate()), measured);
    // Once the samples stop, the rate falls to nothing; the axis keeps the last one.
    now += 1500;
    QCOMPARE(model.rate(), 0.0);
    QCOMPARE(qRound(model.axisRate(5)), qRound(1000.0 * lines / everyMs));
}

QTEST_GUILESS_MAIN(TestRateMeter)
#include "tst_ratemeter.moc"
