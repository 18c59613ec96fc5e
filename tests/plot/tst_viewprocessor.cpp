#include "plot/plotmodel.h"
#include "plot/viewprocessor.h"

#include <QtTest>

#include <cmath>
#include <functional>

namespace {

constexpr double kPi = 3.14159265358979323846;
std::int64_t clockMs = 0;
std::int64_t testClock()
{
    return clockMs;
}

ViewProcessor::Settings settingsOf(double highPass, double mains, bool envelope, int ms = 100)
{
    ViewProcessor::Settings s;
    s.filter = {highPass, mains};
    s.envelope = envelope;
    s.envelopeMs = ms;
    return s;
}

// Delivers `seconds` of one channel at `rate` in deliveries every 10 ms, stepping the processor
// after each as the view's frames would.
void feed(PlotModel &model, ViewProcessor &processor, double rate, double seconds,
          const std::function<double(std::int64_t)> &signal)
{
    const auto perTick = std::int64_t(std::lround(rate / 100));
    for (int tick = 0; tick < int(seconds * 100); ++tick) {
        QByteArray bytes;
        const std::int64_t first = model.history().sampleCount();
        for (std::int64_t i = first; i < first + perTick; ++i)
            bytes += QByteArray::number(signal(i), 'f', 3) + '\n';
        clockMs += 10;
        model.append(bytes);
        processor.step(model, 5);
    }
}

} // namespace

// The processed view against a model fed at a measured rate: what it shows, and what it refuses.
class TestViewProcessor : public QObject
{
    Q_OBJECT

private slots:
    void init() { clockMs = 1000; }
    void envelopeOfABurst_data();
    void envelopeOfABurst();
    void refusedWithoutARate_data();
    void refusedWithoutARate();
    void noStepAtTheLeftEdge_data();
    void noStepAtTheLeftEdge();
    void badSampleIsAGap_data();
    void badSampleIsAGap();
    void rateChangeRedesigns();
    void catchUpIsBounded();
};

void TestViewProcessor::envelopeOfABurst_data()
{
    QTest::addColumn<double>("highPass");
    QTest::addColumn<double>("offset");
    QTest::addColumn<int>("ms");
    QTest::newRow("raw, 100 ms") << 0.0 << 0.0 << 100;
    QTest::newRow("high-passed, an offset, 100 ms") << 20.0 << 2000.0 << 100;
    QTest::newRow("high-passed, 500 ms") << 10.0 << -300.0 << 500;
    QTest::newRow("50 ms") << 20.0 << 0.0 << 50;
}

// A burst of RMS 70.7 (a sine of amplitude 100) between quiet stretches reads 70.7 within 5 %.
void TestViewProcessor::envelopeOfABurst()
{
    QFETCH(double, highPass);
    QFETCH(double, offset);
    QFETCH(int, ms);
    PlotModel model;
    model.setClock(testClock);
    ViewProcessor processor;
    processor.setSettings(settingsOf(highPass, 0, true, ms));
    const double rate = 1000;
    // 2 s quiet, 2 s of burst, 1 s quiet.
    auto signal = [&](std::int64_t i) {
        const bool burst = i >= 2000 && i < 4000;
        return offset + (burst ? 100 * std::sin(2 * kPi * 83 * double(i) / rate) : 0.0);
    };
    feed(model, processor, rate, 5, signal);
    QVERIFY(processor.shows());
    QVERIFY(processor.refusal().isEmpty());
    QCOMPARE(processor.end(), model.history().sampleCount());
    float v = 0;
    for (std::int64_t i : {3000, 3500, 3900}) {
        QVERIFY(processor.history().value(0, i - processor.offset(), &v));
        QVERIFY2(std::abs(v - 70.71f) < 70.71f * 0.05f, qPrintable(QString::number(v)));
    }
    // After the burst, the window past it reads quiet again.
    QVERIFY(processor.history().value(0, 4000 + ms + 300 - processor.offset(), &v));
    QVERIFY2(std::abs(v - std::abs(highPass > 0 ? 0 : offset)) < 3, qPrintable(QString::number(v)));
    QVERIFY(processor.history().value(0, processor.history().sampleCount() - 1, &v));
    QCOMPARE(processor.latest(0), double(v));
}

void TestViewProcessor::refusedWithoutARate_data()
{
    QTest::addColumn<double>("rate"); // 0: every delivery at one moment, so none is measured
    QTest::addColumn<double>("highPass");
    QTest::addColumn<double>("mains");
    QTest::addColumn<bool>("envelope");
    QTest::addColumn<bool>("shows");
    QTest::addColumn<QString>("says");
    QTest::newRow("no rate") << 0.0 << 20.0 << 50.0 << false << false << "waits for a sample rate";
    QTest::newRow("no rate, envelope") << 0.0 << 0.0 << 0.0 << true << false << "waits";
    QTest::newRow("50 Hz notch at 80/s")
        << 80.0 << 0.0 << 50.0 << false << false << "a 50 Hz notch needs 125 samples/s";
    QTest::newRow("the high-pass runs, the notch not")
        << 100.0 << 20.0 << 60.0 << false << true << "a 60 Hz notch needs 150 samples/s";
}

// A filter that cannot run says why, and the view shows nothing it made up.
void TestViewProcessor::refusedWithoutARate()
{
    QFETCH(double, rate);
    QFETCH(double, highPass);
    QFETCH(double, mains);
    QFETCH(bool, envelope);
    QFETCH(bool, shows);
    QFETCH(QString, says);
    PlotModel model;
    model.setClock(testClock);
    ViewProcessor processor;
    processor.setSettings(settingsOf(highPass, mains, envelope));
    if (rate > 0) {
        feed(model, processor, rate, 2, [](std::int64_t i) { return double(i % 7); });
    } else {
        QByteArray bytes;
        for (int i = 0; i < 3000; ++i)
            bytes += QByteArray::number(i % 7) + '\n';
        model.append(bytes);
        processor.step(model, 5);
    }
    QCOMPARE(processor.shows(), shows);
    QVERIFY2(processor.refusal().contains(says), qPrintable(processor.refusal()));
    QVERIFY(processor.stateText().contains(says));
    if (!shows)
        QCOMPARE(processor.history().sampleCount(), 0);
    QCOMPARE(processor.mainsRefused(), mains > 0);
}

void TestViewProcessor::noStepAtTheLeftEdge_data()
{
    QTest::addColumn<double>("highPass");
    QTest::addColumn<double>("mains");
    QTest::addColumn<double>("offset");
    for (double offset : {2048.0, 32768.0, 1e5}) {
        QTest::addRow("HP 20 Hz, offset %g", offset) << 20.0 << 0.0 << offset;
        QTest::addRow("50 Hz notch, offset %g", offset) << 0.0 << 50.0 << offset;
    }
}

// A filter chosen over raw ADC counts starts at the window's left edge on the signal, not with a
// step from 0 to the offset that rings through the window.
void TestViewProcessor::noStepAtTheLeftEdge()
{
    QFETCH(double, highPass);
    QFETCH(double, mains);
    QFETCH(double, offset);
    PlotModel model;
    model.setClock(testClock);
    ViewProcessor processor;
    const double rate = 1000;
    auto signal
        = [&](std::int64_t i) { return offset + 10 * std::sin(2 * kPi * 173 * double(i) / rate); };
    feed(model, processor, rate, 3, signal);
    processor.setSettings(settingsOf(highPass, mains, false));
    feed(model, processor, rate, 0.5, signal);
    QVERIFY(processor.shows());
    QCOMPARE(processor.end(), model.history().sampleCount());
    const double level = highPass > 0 ? 0 : offset;
    float v = 0;
    for (std::int64_t i = 0; i < processor.history().sampleCount(); ++i) {
        QVERIFY(processor.history().value(0, i, &v));
        QVERIFY2(std::abs(v - level) < 12,
                 qPrintable(QString("%1 at %2").arg(v).arg(i + processor.offset())));
    }
}

void TestViewProcessor::badSampleIsAGap_data()
{
    QTest::addColumn<double>("highPass");
    QTest::addColumn<double>("mains");
    QTest::addColumn<bool>("envelope");
    QTest::addColumn<double>("level"); // what the view shows once settled
    QTest::addColumn<double>("spread"); // and how far from it
    QTest::newRow("HP") << 20.0 << 0.0 << false << 0.0 << 11.0;
    QTest::newRow("notch") << 0.0 << 50.0 << false << 2048.0 << 11.0;
    QTest::newRow("envelope of the raw signal") << 0.0 << 0.0 << true << 2048.0 << 1.0;
    QTest::newRow("envelope, high-passed and notched") << 20.0 << 50.0 << true << 7.07 << 0.4;
}

// A corrupted line's huge number is a gap in the processed view, which is itself again within
// the filters' settling time.
void TestViewProcessor::badSampleIsAGap()
{
    QFETCH(double, highPass);
    QFETCH(double, mains);
    QFETCH(bool, envelope);
    QFETCH(double, level);
    QFETCH(double, spread);
    PlotModel model;
    model.setClock(testClock);
    ViewProcessor processor;
    processor.setSettings(settingsOf(highPass, mains, envelope));
    const double rate = 1000;
    const std::int64_t bad = 2500;
    feed(model, processor, rate, 4, [&](std::int64_t i) {
        return i == bad ? 3e38 : 2048 + 10 * std::sin(2 * kPi * 173 * double(i) / rate);
    });
    QCOMPARE(processor.end(), model.history().sampleCount());
    float v = 0;
    for (std::int64_t i = bad + 1000; i < processor.end(); ++i) {
        QVERIFY2(processor.history().value(0, i - processor.offset(), &v),
                 qPrintable(QString("a gap at %1").arg(i)));
        QVERIFY2(std::abs(v - level) < spread, qPrintable(QString("%1 at %2").arg(v).arg(i)));
    }
    QVERIFY(std::isfinite(processor.latest(0)));
    QVERIFY(!processor.history().value(0, bad - processor.offset(), &v));
}

void TestViewProcessor::rateChangeRedesigns()
{
    PlotModel model;
    model.setClock(testClock);
    ViewProcessor processor;
    processor.setSettings(settingsOf(0, 50, false));
    feed(model, processor, 1000, 3, [](std::int64_t i) { return double(i % 5); });
    QCOMPARE(processor.rate(), 1000.0);
    feed(model, processor, 1010, 3, [](std::int64_t i) { return double(i % 5); });
    // A percent off: the design holds.
    QCOMPARE(processor.rate(), 1000.0);
    feed(model, processor, 2000, 3, [](std::int64_t i) { return double(i % 5); });
    QVERIFY2(std::abs(processor.rate() - 2000) < 20, qPrintable(QString::number(processor.rate())));
}

// A new choice over a long history catches up over several steps, each of bounded work.
void TestViewProcessor::catchUpIsBounded()
{
    PlotModel model;
    model.setClock(testClock);
    ViewProcessor processor;
    feed(model, processor, 10000, 6, [](std::int64_t i) { return double(i % 11); });
    processor.setSettings(settingsOf(20, 50, true));
    processor.step(model, 30);
    const std::int64_t first = processor.end() - processor.offset();
    QVERIFY(first > 0);
    // 30 notches, the high-pass's two sections and the envelope: a few thousand samples a step.
    QVERIFY2(first < 30000, qPrintable(QString::number(first)));
    for (int i = 0; i < 100 && processor.end() < model.history().sampleCount(); ++i)
        processor.step(model, 30);
    QCOMPARE(processor.end(), model.history().sampleCount());
    QCOMPARE(processor.offset(), 0);
    // Not stepped for 6 s, as while hidden: it starts again at the 2 s window's left edge.
    for (int tick = 0; tick < 600; ++tick) {
        clockMs += 10;
        model.append(QByteArray("1\n").repeated(100));
    }
    processor.step(model, 2);
    QVERIFY2(processor.offset() >= model.history().sampleCount() - 20100,
             qPrintable(QString::number(model.history().sampleCount() - processor.offset())));
}

QTEST_MAIN(TestViewProcessor)
#include "tst_viewprocessor.moc"
