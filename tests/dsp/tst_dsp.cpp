#include "dsp/clipmeter.h"
#include "dsp/viewfilter.h"
#include "dsp/welchpsd.h"

#include <QtTest>

#include <cmath>
#include <limits>
#include <numeric>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

std::vector<float> tone(double rate, double seconds, double hz, double amplitude)
{
    std::vector<float> x(std::size_t(rate * seconds));
    for (std::size_t i = 0; i < x.size(); ++i)
        x[i] = float(amplitude * std::sin(2 * kPi * hz * double(i) / rate));
    return x;
}

void add(std::vector<float> &x, const std::vector<float> &y)
{
    for (std::size_t i = 0; i < x.size(); ++i)
        x[i] += y[i];
}

// The amplitude of the component at `hz` in the second half of x: its projection on a sine and
// a cosine over whole periods of both.
double amplitudeAt(const std::vector<float> &x, double rate, double hz)
{
    const std::size_t from = x.size() / 2;
    double s = 0;
    double c = 0;
    for (std::size_t i = from; i < x.size(); ++i) {
        s += x[i] * std::sin(2 * kPi * hz * double(i) / rate);
        c += x[i] * std::cos(2 * kPi * hz * double(i) / rate);
    }
    return 2 * std::hypot(s, c) / double(x.size() - from);
}

// The RMS of what is left of the second half of x once its mean and its components at `hz` are
// taken out (each a whole number of periods there).
double residualRms(const std::vector<float> &x, double rate, std::initializer_list<double> hz)
{
    const std::size_t from = x.size() / 2;
    const double n = double(x.size() - from);
    std::vector<double> r(x.begin() + std::ptrdiff_t(from), x.end());
    const double mean = std::accumulate(r.begin(), r.end(), 0.0) / n;
    for (double &v : r)
        v -= mean;
    for (double f : hz) {
        double s = 0;
        double c = 0;
        for (std::size_t i = 0; i < r.size(); ++i) {
            s += r[i] * std::sin(2 * kPi * f * double(i + from) / rate);
            c += r[i] * std::cos(2 * kPi * f * double(i + from) / rate);
        }
        for (std::size_t i = 0; i < r.size(); ++i)
            r[i] -= 2 / n
                * (s * std::sin(2 * kPi * f * double(i + from) / rate)
                   + c * std::cos(2 * kPi * f * double(i + from) / rate));
    }
    double sum = 0;
    for (double v : r)
        sum += v * v;
    return std::sqrt(sum / n);
}

double db(double ratio)
{
    return 20 * std::log10(ratio);
}

} // namespace

// The view's filters, spectrum and clipping against signals of known make-up.
class TestDsp : public QObject
{
    Q_OBJECT

private slots:
    void notch_data();
    void notch();
    void highPassRemovesDrift_data();
    void highPassRemovesDrift();
    void offsetKeepsPrecision_data();
    void offsetKeepsPrecision();
    void recoversFromABadSample_data();
    void recoversFromABadSample();
    void rateTooLowFiltersNothing_data();
    void rateTooLowFiltersNothing();
    void tonePeakInItsBin_data();
    void tonePeakInItsBin();
    void mainsShare_data();
    void mainsShare();
    void clipping_data();
    void clipping();
    void clippingAtAStatedRange_data();
    void clippingAtAStatedRange();
    void clippingOverALongWindow_data();
    void clippingOverALongWindow();
};

void TestDsp::notch_data()
{
    QTest::addColumn<double>("rate");
    QTest::addColumn<double>("mains");
    QTest::addColumn<double>("removed"); // falls by at least 30 dB
    QTest::addColumn<double>("kept"); // falls by less than 1 dB
    QTest::newRow("50 Hz at 1,000/s") << 1000.0 << 50.0 << 50.0 << 120.0;
    QTest::newRow("a harmonic: 150 Hz") << 1000.0 << 50.0 << 150.0 << 120.0;
    QTest::newRow("60 Hz keeps 50 Hz") << 1000.0 << 60.0 << 60.0 << 50.0;
    QTest::newRow("the last harmonic notched") << 10000.0 << 50.0 << 1500.0 << 120.0;
    QTest::newRow("near Nyquist at 1,000/s") << 1000.0 << 60.0 << 480.0 << 450.0;
    QTest::newRow("50 Hz at 10,000/s") << 10000.0 << 50.0 << 50.0 << 120.0;
    QTest::newRow("a rate not a multiple of 50") << 977.0 << 50.0 << 100.0 << 120.0;
}

void TestDsp::notch()
{
    QFETCH(double, rate);
    QFETCH(double, mains);
    QFETCH(double, removed);
    QFETCH(double, kept);
    std::vector<float> x = tone(rate, 4, removed, 100);
    add(x, tone(rate, 4, kept, 100));
    ViewFilter filter;
    filter.design({0, mains}, rate, 1);
    QVERIFY(filter.mainsOn());
    QVERIFY(!filter.highPassOn());
    std::vector<float> y(x.size());
    for (std::size_t i = 0; i < x.size(); ++i)
        y[i] = filter.process(0, x[i]);
    const double removedDb = db(amplitudeAt(y, rate, removed) / amplitudeAt(x, rate, removed));
    const double keptDb = db(amplitudeAt(y, rate, kept) / amplitudeAt(x, rate, kept));
    QVERIFY2(removedDb <= -30, qPrintable(QString::number(removedDb)));
    QVERIFY2(keptDb > -1 && keptDb < 1, qPrintable(QString::number(keptDb)));
}

void TestDsp::highPassRemovesDrift_data()
{
    QTest::addColumn<double>("cutoff");
    QTest::newRow("10 Hz") << 10.0;
    QTest::newRow("20 Hz") << 20.0;
}

void TestDsp::highPassRemovesDrift()
{
    QFETCH(double, cutoff);
    const double rate = 1000;
    // An offset of 2,000, a slow swing of 300 and a ramp: the baseline; 15 at 150 Hz: the muscle.
    std::vector<float> x = tone(rate, 8, 0.3, 300);
    for (std::size_t i = 0; i < x.size(); ++i)
        x[i] += float(2000 + 50 * double(i) / rate);
    add(x, tone(rate, 8, 150, 15));
    ViewFilter filter;
    filter.design({cutoff, 0}, rate, 1);
    QVERIFY(filter.highPassOn());
    std::vector<float> y(x.size());
    for (std::size_t i = 0; i < x.size(); ++i)
        y[i] = filter.process(0, x[i]);
    // Once settled, the output swings as the muscle alone: the baseline has gone.
    const auto [lo, hi] = std::minmax_element(y.begin() + std::ptrdiff_t(y.size() / 2), y.end());
    QVERIFY2(*hi < 16.5 && *lo > -16.5, qPrintable(QString("%1..%2").arg(*lo).arg(*hi)));
    QVERIFY2(std::abs(amplitudeAt(y, rate, 150) - 15) < 15 * 0.05,
             qPrintable(QString::number(amplitudeAt(y, rate, 150))));
}

void TestDsp::offsetKeepsPrecision_data()
{
    QTest::addColumn<double>("rate");
    QTest::addColumn<double>("highPass");
    QTest::addColumn<double>("mains");
    QTest::addColumn<double>("offset");
    QTest::addColumn<double>("drift"); // a swing at 0.5 Hz
    struct Filter
    {
        const char *name;
        double rate;
        double highPass;
        double mains;
    };
    const Filter filters[]
        = {{"HP 10 Hz at 1,000/s", 1000, 10, 0},      {"HP 10 Hz at 10,000/s", 10000, 10, 0},
           {"HP 20 Hz at 57,000/s", 57000, 20, 0},    {"notch 50 Hz at 1,000/s", 1000, 0, 50},
           {"notch 50 Hz at 10,000/s", 10000, 0, 50}, {"notch 50 Hz at 57,000/s", 57000, 0, 50}};
    for (const Filter &f : filters) {
        for (double offset : {0.0, 2048.0, 32768.0, 1e5})
            QTest::addRow("%s, offset %g", f.name, offset)
                << f.rate << f.highPass << f.mains << offset << 0.0;
        QTest::addRow("%s, offset 2048, drift", f.name)
            << f.rate << f.highPass << f.mains << 2048.0 << 300.0;
    }
    QTest::newRow("both at 57,000/s, offset 32768, drift")
        << 57000.0 << 20.0 << 50.0 << 32768.0 << 300.0;
}

// 10 counts at 173 Hz on an offset, as raw ADC counts are, and a slow swing of the baseline: once
// settled, what comes out is the tone and the baseline as the filters pass them, and next to
// nothing else.
void TestDsp::offsetKeepsPrecision()
{
    QFETCH(double, rate);
    QFETCH(double, highPass);
    QFETCH(double, mains);
    QFETCH(double, offset);
    QFETCH(double, drift);
    const double seconds = 12;
    std::vector<float> x = tone(rate, seconds, 173, 10);
    const std::vector<float> swing = tone(rate, seconds, 0.5, drift);
    for (std::size_t i = 0; i < x.size(); ++i)
        x[i] = float(double(x[i]) + double(swing[i]) + offset);
    ViewFilter filter;
    filter.design({highPass, mains}, rate, 1);
    QVERIFY(filter.any());
    std::vector<float> y(x.size());
    for (std::size_t i = 0; i < x.size(); ++i)
        y[i] = filter.process(0, x[i]);
    const double error = residualRms(y, rate, {0.5, 173});
    const double signal = 10 / std::sqrt(2.0);
    QVERIFY2(error < 0.01 * signal, qPrintable(QString("error %1 rms").arg(error)));
    QVERIFY2(std::abs(amplitudeAt(y, rate, 173) - 10) < 0.5,
             qPrintable(QString::number(amplitudeAt(y, rate, 173))));
    // What passes at 0 Hz: nothing through a high-pass, the offset through notches.
    const double mean = std::accumulate(y.begin() + std::ptrdiff_t(y.size() / 2), y.end(), 0.0)
        / double(y.size() - y.size() / 2);
    QVERIFY2(std::abs(mean - (highPass > 0 ? 0 : offset)) < 1, qPrintable(QString::number(mean)));
}

void TestDsp::recoversFromABadSample_data()
{
    QTest::addColumn<double>("highPass");
    QTest::addColumn<double>("mains");
    QTest::addColumn<float>("bad");
    const float big = std::numeric_limits<float>::max();
    const float inf = std::numeric_limits<float>::infinity();
    QTest::newRow("HP, 3e38") << 20.0 << 0.0 << 3e38f;
    QTest::newRow("HP, float's largest") << 20.0 << 0.0 << big;
    QTest::newRow("notch, float's largest") << 0.0 << 50.0 << big;
    QTest::newRow("both, its negative") << 20.0 << 50.0 << -big;
    QTest::newRow("both, infinity") << 20.0 << 50.0 << inf;
    QTest::newRow("notch, NaN") << 0.0 << 50.0 << std::numeric_limits<float>::quiet_NaN();
}

// One sample no filter can hold is a gap, and the channel filters as before once settled.
void TestDsp::recoversFromABadSample()
{
    QFETCH(double, highPass);
    QFETCH(double, mains);
    QFETCH(float, bad);
    const double rate = 10000;
    std::vector<float> x = tone(rate, 4, 173, 10);
    for (float &v : x)
        v += 2048;
    const std::size_t at = std::size_t(rate / 2);
    x[at] = bad;
    ViewFilter filter;
    filter.design({highPass, mains}, rate, 2);
    std::vector<float> y(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) {
        y[i] = filter.process(1, x[i]);
        if (i != at)
            QVERIFY2(std::isfinite(y[i]), qPrintable(QString("sample %1").arg(i)));
    }
    QVERIFY(std::isnan(y[at]));
    QVERIFY2(residualRms(y, rate, {173}) < 0.1,
             qPrintable(QString::number(residualRms(y, rate, {173}))));
    QVERIFY2(std::abs(amplitudeAt(y, rate, 173) - 10) < 0.5,
             qPrintable(QString::number(amplitudeAt(y, rate, 173))));
}

void TestDsp::rateTooLowFiltersNothing_data()
{
    QTest::addColumn<double>("rate");
    QTest::addColumn<double>("highPass");
    QTest::addColumn<double>("mains");
    QTest::addColumn<bool>("highPassOn");
    QTest::addColumn<bool>("mainsOn");
    QTest::newRow("unknown") << 0.0 << 20.0 << 50.0 << false << false;
    QTest::newRow("50 Hz notch at 80/s") << 80.0 << 20.0 << 50.0 << true << false;
    QTest::newRow("20 Hz high-pass at 40/s") << 40.0 << 20.0 << 0.0 << false << false;
    QTest::newRow("both at 200/s") << 200.0 << 20.0 << 60.0 << true << true;
}

// A filter the rate does not allow is left out, and what it would have filtered passes as it is.
void TestDsp::rateTooLowFiltersNothing()
{
    QFETCH(double, rate);
    QFETCH(double, highPass);
    QFETCH(double, mains);
    QFETCH(bool, highPassOn);
    QFETCH(bool, mainsOn);
    ViewFilter filter;
    filter.design({highPass, mains}, rate, 2);
    QCOMPARE(filter.highPassOn(), highPassOn);
    QCOMPARE(filter.mainsOn(), mainsOn);
    if (!filter.any()) {
        for (float v : {1.f, 2000.f, -3.5f})
            QCOMPARE(filter.process(1, v), v);
    }
}

void TestDsp::tonePeakInItsBin_data()
{
    QTest::addColumn<double>("rate");
    QTest::addColumn<double>("hz");
    QTest::newRow("123.4 Hz at 1,000/s") << 1000.0 << 123.4;
    QTest::newRow("50 Hz at 500/s") << 500.0 << 50.0;
    QTest::newRow("3,210 Hz at 10,000/s") << 10000.0 << 3210.0;
    QTest::newRow("near Nyquist") << 1000.0 << 480.0;
}

void TestDsp::tonePeakInItsBin()
{
    QFETCH(double, rate);
    QFETCH(double, hz);
    const std::vector<float> x = tone(rate, 1.5, hz, 1000);
    Spectrum s;
    QVERIFY(s.compute(
        [&](std::int64_t i, float *v) {
            *v = x[std::size_t(i)] + 500; // an offset does not move the peak
            return true;
        },
        std::int64_t(x.size()), std::int64_t(x.size()), rate));
    QVERIFY(s.segments() >= 2);
    QVERIFY(s.binHz() <= 2.5);
    const std::vector<float> &p = s.power();
    const auto peak = std::max_element(p.begin(), p.end()) - p.begin();
    QVERIFY2(std::abs(double(peak) * s.binHz() - hz) <= s.binHz(),
             qPrintable(QString("peak at %1 Hz").arg(double(peak) * s.binHz())));
}

void TestDsp::mainsShare_data()
{
    QTest::addColumn<double>("rate");
    QTest::addColumn<double>("mains");
    QTest::addColumn<double>("mainsAmplitude");
    QTest::addColumn<double>("harmonicAmplitude"); // at three times the mains
    QTest::addColumn<double>("otherAmplitude"); // at 173 Hz
    QTest::newRow("50 Hz, a quarter") << 1000.0 << 50.0 << 100.0 << 0.0 << 173.2;
    QTest::newRow("60 Hz, a half") << 1000.0 << 60.0 << 100.0 << 0.0 << 100.0;
    QTest::newRow("50 Hz with its third harmonic") << 2000.0 << 50.0 << 100.0 << 50.0 << 100.0;
    QTest::newRow("60 Hz at 10,000/s") << 10000.0 << 60.0 << 30.0 << 0.0 << 90.0;
    QTest::newRow("none") << 1000.0 << 50.0 << 0.0 << 0.0 << 100.0;
}

void TestDsp::mainsShare()
{
    QFETCH(double, rate);
    QFETCH(double, mains);
    QFETCH(double, mainsAmplitude);
    QFETCH(double, harmonicAmplitude);
    QFETCH(double, otherAmplitude);
    std::vector<float> x = tone(rate, 1.5, mains, mainsAmplitude);
    add(x, tone(rate, 1.5, 3 * mains, harmonicAmplitude));
    add(x, tone(rate, 1.5, 173, otherAmplitude));
    Spectrum s;
    QVERIFY(s.compute(
        [&](std::int64_t i, float *v) {
            *v = x[std::size_t(i)];
            return true;
        },
        std::int64_t(x.size()), std::int64_t(x.size()), rate));
    const double line = mainsAmplitude * mainsAmplitude + harmonicAmplitude * harmonicAmplitude;
    const double expected = line / (line + otherAmplitude * otherAmplitude);
    const Spectrum::Mains m = s.mains();
    if (expected > 0)
        QCOMPARE(m.hz, mains);
    QVERIFY2(std::abs(m.share - expected) < 0.03,
             qPrintable(QString("%1 for %2").arg(m.share).arg(expected)));
}

void TestDsp::clipping_data()
{
    QTest::addColumn<double>("rail"); // the sine clips there, as a share of its amplitude
    QTest::addColumn<bool>("integers");
    QTest::addColumn<double>("adcLow");
    QTest::addColumn<double>("adcHigh");
    QTest::addColumn<double>("expected"); // share of samples clipped
    // A sine of amplitude A sits beyond r·A for 1 - 2·asin(r)/π of the time.
    const double at80 = 1 - 2 * std::asin(0.8) / kPi;
    QTest::newRow("clipped at 80 %") << 0.8 << false << 0.0 << 0.0 << at80;
    QTest::newRow("clipped, integers") << 0.8 << true << 0.0 << 0.0 << at80;
    QTest::newRow("clean") << 1.0 << false << 0.0 << 0.0 << 0.0;
    QTest::newRow("clean, integers") << 1.0 << true << 0.0 << 0.0 << 0.0;
    QTest::newRow("at the ADC's limits") << 0.8 << true << -800.0 << 800.0 << at80;
    QTest::newRow("within the ADC's limits") << 0.8 << true << -2048.0 << 2047.0 << 0.0;
}

void TestDsp::clipping()
{
    QFETCH(double, rail);
    QFETCH(bool, integers);
    QFETCH(double, adcLow);
    QFETCH(double, adcHigh);
    QFETCH(double, expected);
    const double rate = 1000;
    const double amplitude = 1000;
    ClipMeter meter;
    meter.setLimits(adcLow, adcHigh);
    // EMG-like: a 37 Hz carrier under a 0.7 Hz swell, plus a little noise.
    std::vector<float> x(std::size_t(rate * 4));
    std::uint32_t seed = 1;
    for (std::size_t i = 0; i < x.size(); ++i) {
        seed = seed * 1664525u + 1013904223u;
        const double noise = (double(seed >> 8) / double(1 << 24) - 0.5) * 4;
        double v = amplitude * std::sin(2 * kPi * 37 * double(i) / rate) + noise;
        v = std::clamp(v, -rail * amplitude, rail * amplitude);
        x[i] = float(integers ? std::round(v) : v);
        meter.add(0, std::int64_t(i), x[i]);
    }
    const auto [lo, hi] = std::minmax_element(x.begin(), x.end());
    const double share = meter.share(0, 0, std::int64_t(x.size()), *lo, *hi);
    // The legend marks any share at all: a clean signal must have none.
    if (expected == 0)
        QCOMPARE(share, 0.0);
    QVERIFY2(std::abs(share - expected) < 0.03,
             qPrintable(QString("%1 for %2").arg(share).arg(expected)));
}

void TestDsp::clippingAtAStatedRange_data()
{
    QTest::addColumn<double>("adcLow");
    QTest::addColumn<double>("adcHigh");
    QTest::newRow("±3.3 V") << -3.3 << 3.3;
    QTest::newRow("±1.65 V") << -1.65 << 1.65;
    QTest::newRow("±1.3 V") << -1.3 << 1.3;
    QTest::newRow("0..3.3 V") << 0.0 << 3.3;
    QTest::newRow("0..4095") << 0.0 << 4095.0;
}

// A signal held at the stated rails, as the plot gets them (each a float of the decimal value),
// clips there; a little inside them it does not.
void TestDsp::clippingAtAStatedRange()
{
    QFETCH(double, adcLow);
    QFETCH(double, adcHigh);
    const double mid = (adcLow + adcHigh) / 2;
    const double half = (adcHigh - adcLow) / 2;
    for (double reach : {1.25, 0.999}) {
        ClipMeter meter;
        meter.setLimits(adcLow, adcHigh);
        const std::vector<float> x = tone(1000, 2, 37, 1);
        for (std::size_t i = 0; i < x.size(); ++i) {
            const double v = std::clamp(mid + reach * half * double(x[i]), adcLow, adcHigh);
            meter.add(0, std::int64_t(i), float(v));
        }
        const double expected = reach > 1 ? 1 - 2 * std::asin(1 / reach) / kPi : 0;
        const double share = meter.share(0, 0, std::int64_t(x.size()), 0, 0);
        QVERIFY2(std::abs(share - expected) < 0.02,
                 qPrintable(QString("%1 for %2 at %3").arg(share).arg(expected).arg(reach)));
    }
}

void TestDsp::clippingOverALongWindow_data()
{
    QTest::addColumn<int>("clipSeconds"); // clipping at the window's start
    QTest::addColumn<int>("quietSeconds"); // then quiet integers, each held for 3 samples
    QTest::addColumn<double>("rail"); // where it sits while quiet, when it does
    QTest::newRow("early clipping, then 26,000 quiet runs") << 1 << 80 << qQNaN();
    QTest::newRow("at one value all along") << 0 << 4 << 4095.0;
    QTest::newRow("at 0 all along") << 0 << 4 << 0.0;
}

// Clipping is remembered over the whole window asked about, however much quiet follows it; a
// channel at one value all along, an unused input, is not called clipping without a stated range.
void TestDsp::clippingOverALongWindow()
{
    QFETCH(int, clipSeconds);
    QFETCH(int, quietSeconds);
    QFETCH(double, rail);
    const double rate = 1000;
    ClipMeter meter;
    std::vector<float> x = tone(rate, clipSeconds, 5, 1000);
    for (float &v : x)
        v = std::clamp(std::round(v), -800.f, 800.f);
    const auto clipped
        = std::count_if(x.begin(), x.end(), [](float v) { return std::abs(v) == 800; });
    std::uint32_t seed = 7;
    for (std::size_t i = 0; i < std::size_t(rate * quietSeconds); ++i) {
        if (i % 3 == 0)
            seed = seed * 1664525u + 1013904223u;
        x.push_back(std::isnan(rail) ? float(int(seed >> 16) % 41 - 20) : float(rail));
    }
    for (std::size_t i = 0; i < x.size(); ++i)
        meter.add(0, std::int64_t(i), x[i]);
    const auto [lo, hi] = std::minmax_element(x.begin(), x.end());
    const double share = meter.share(0, 0, std::int64_t(x.size()), *lo, *hi);
    const double expected = std::isnan(rail) ? double(clipped) / double(x.size()) : 0.0;
    QVERIFY2(std::abs(share - expected) < 1e-9,
             qPrintable(QString("%1 for %2").arg(share).arg(expected)));
}

QTEST_MAIN(TestDsp)
#include "tst_dsp.moc"
