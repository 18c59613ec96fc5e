#include "plot/markerlines.h"
#include "plot/plotmarkers.h"
#include "plot/plotmodel.h"
#include "plot/plotview.h"
#include "plot/psdview.h"
#include "plot/viewprocessor.h"

#include <QtTest>

// Frames read back as pixels: where a value is drawn, and that nothing drawn was not sent.
class TestPlotView : public QObject
{
    Q_OBJECT

private:
    // Every delivery at one moment: no rate is measured, and the samples fill the window.
    static std::int64_t stillClock() { return 0; }
    // Samples delivered at once fill the window: sample i lands at column i * columns / count.
    static QByteArray lines(int count, double value, int spikeAt = -1, double spike = 0)
    {
        QByteArray bytes;
        for (int i = 0; i < count; ++i)
            bytes += QByteArray::number(i == spikeAt ? spike : value, 'g', 17) + '\n';
        return bytes;
    }
    // The rows of column x (counted from the plot's left) drawn in channel 0's colour.
    static QVector<int> rowsAt(const QImage &frame, const QRect &area, int x)
    {
        QVector<int> rows;
        for (int y = area.top() + 1; y < area.bottom(); ++y) {
            if (frame.pixelColor(area.left() + x, y) == PlotView::channelColor(0))
                rows << y - area.top();
        }
        return rows;
    }

private slots:
    void beyondTheRange_data();
    void beyondTheRange();
    void spikeAtItsColumn_data();
    void spikeAtItsColumn();
    void pauseOutlivesTheHistory_data();
    void pauseOutlivesTheHistory();
    void processedViewIsDrawn_data();
    void processedViewIsDrawn();
    void spectrumReadout_data();
    void spectrumReadout();
    void markerAtItsSample_data();
    void markerAtItsSample();
};

void TestPlotView::beyondTheRange_data()
{
    QTest::addColumn<double>("value");
    // Where under the range 0..100: 0 the top inner row, 1 the bottom one, else a share of it.
    QTest::addColumn<double>("at");
    QTest::newRow("inside") << 25.0 << 0.75;
    QTest::newRow("above") << 150.0 << 0.0;
    QTest::newRow("below") << -50.0 << 1.0;
    QTest::newRow("an int's row overflows") << 1835456128.0 << 0.0;
    QTest::newRow("twice that") << 3670912256.0 << 0.0;
    QTest::newRow("beyond a float") << -1e300 << 1.0;
}

void TestPlotView::beyondTheRange()
{
    QFETCH(double, value);
    QFETCH(double, at);
    PlotModel model;
    model.setClock(stillClock);
    PlotView view(&model);
    view.resize(500, 300);
    view.setFixedRange(0, 100);
    model.append(lines(4000, value));
    const QImage frame = view.grab().toImage();
    QCOMPARE(view.rangeLow(), 0.0);
    QCOMPARE(view.rangeHigh(), 100.0);
    const QRect area = view.plotArea();
    const int inner = area.height() - 3;
    const bool inside = at > 0 && at < 1;
    QCOMPARE(view.beyondRange(), !inside);
    for (int x = 1; x < area.width() - 1; ++x) {
        const QVector<int> rows = rowsAt(frame, area, x);
        QVERIFY2(!rows.isEmpty(), qPrintable(QStringLiteral("column %1 is empty").arg(x)));
        const int want = 1 + int(std::lround(at * inner));
        // Out of the range, a bar on the edge, wider than the trace.
        QVERIFY2(rows.contains(want) && rows.size() <= (inside ? 2 : 5),
                 qPrintable(QStringLiteral("column %1: %2 rows from %3, not %4")
                                .arg(x)
                                .arg(rows.size())
                                .arg(rows.first())
                                .arg(want)));
    }
}

void TestPlotView::spikeAtItsColumn_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<double>("spike");
    // Fewer samples than columns draw lines between them; more draw each column's min to max.
    for (int count : {200, 40000}) {
        QTest::addRow("%d samples, -1e30", count) << count << -1e30;
        QTest::addRow("%d samples, 1e12", count) << count << 1e12;
        QTest::addRow("%d samples, 90", count) << count << 90.0;
    }
}

void TestPlotView::spikeAtItsColumn()
{
    QFETCH(int, count);
    QFETCH(double, spike);
    PlotModel model;
    model.setClock(stillClock);
    PlotView view(&model);
    view.resize(500, 300);
    view.setFixedRange(0, 100);
    const int spikeAt = count / 2;
    model.append(lines(count, 50, spikeAt, spike));
    const QImage frame = view.grab().toImage();
    const QRect area = view.plotArea();
    const int column = int(double(spikeAt) * area.width() / count);
    const int level = 1 + int(std::lround(0.5 * (area.height() - 3)));
    const int edge = spike > 100 ? 1 : spike < 0 ? area.height() - 2 : -1;
    const int peak = edge > 0 ? edge : 1 + int(std::lround(0.1 * (area.height() - 3)));
    QVERIFY2(rowsAt(frame, area, column).contains(peak),
             qPrintable(QStringLiteral("no spike at column %1").arg(column)));
    QCOMPARE(view.beyondRange(), edge > 0);
    // The newest sample is drawn where it starts, short of the right edge.
    const int newest = int(double(count - 1) * area.width() / count);
    for (int x = 1; x <= std::min(newest, area.width() - 2); ++x) {
        const QVector<int> rows = rowsAt(frame, area, x);
        // The level of 50 runs unbroken on both sides; the spike is only near its column.
        QVERIFY2(rows.contains(level) || std::abs(x - column) <= 1,
                 qPrintable(QStringLiteral("a gap at column %1").arg(x)));
        if (std::abs(x - column) > 3)
            QVERIFY2(rows.size() <= 2, qPrintable(QStringLiteral("a stray at column %1").arg(x)));
    }
}

void TestPlotView::pauseOutlivesTheHistory_data()
{
    QTest::addColumn<int>("count");
    QTest::newRow("raw samples") << 300;
    QTest::newRow("columns of blocks of 16") << 40000;
}

void TestPlotView::pauseOutlivesTheHistory()
{
    QFETCH(int, count);
    PlotModel model;
    model.setClock(stillClock);
    PlotView view(&model);
    view.resize(500, 300);
    QByteArray saw;
    for (int i = 0; i < count; ++i)
        saw += QByteArray::number(i % 97) + '\n';
    model.append(saw);
    view.setPaused(true);
    const QImage paused = view.grab().toImage();
    const QRect area = view.plotArea();
    // More than every level at this resolution holds.
    model.append(lines(1100000, 5));
    QCOMPARE(view.grab().toImage().copy(area), paused.copy(area));
    QVERIFY(!view.pausedSamplesGone());
    // Seen anew, at another window, the samples are gone, and the view says so.
    view.setWindowSeconds(2);
    view.grab();
    QVERIFY(view.pausedSamplesGone());
    view.setPaused(false);
    QVERIFY(!view.pausedSamplesGone());
}

void TestPlotView::processedViewIsDrawn_data()
{
    QTest::addColumn<double>("rate"); // 0: every delivery at one moment, so none is measured
    QTest::addColumn<double>("highPass");
    QTest::addColumn<double>("mains");
    QTest::addColumn<bool>("envelope");
    QTest::addColumn<QString>("status");
    QTest::addColumn<bool>("flat"); // channel 1 drawn as its envelope, not as the sine
    QTest::newRow("raw") << 1000.0 << 0.0 << 0.0 << false << "1,000 samples/s" << false;
    QTest::newRow("envelope") << 1000.0 << 0.0 << 0.0 << true << "Envelope 100 ms" << true;
    QTest::newRow("high-passed envelope")
        << 1000.0 << 20.0 << 60.0 << true << "High-pass 20 Hz · 60 Hz notch · Envelope" << true;
    QTest::newRow("notch at too low a rate")
        << 80.0 << 0.0 << 50.0 << false << "Not filtered: a 50 Hz notch needs 125 samples/s"
        << false;
    QTest::newRow("no rate") << 0.0 << 20.0 << 0.0 << true
                             << "Not filtered: the view waits for a sample rate" << false;
}

// The processed samples reach the pixels and the legend; what cannot run says so, and the raw
// signal shows instead. Channel 2 clips, and its entry says how much.
void TestPlotView::processedViewIsDrawn()
{
    QFETCH(double, rate);
    QFETCH(double, highPass);
    QFETCH(double, mains);
    QFETCH(bool, envelope);
    QFETCH(QString, status);
    QFETCH(bool, flat);
    static std::int64_t now = 0;
    now = 0;
    PlotModel model;
    model.setClock([] { return now; });
    ViewProcessor processor;
    ViewProcessor::Settings settings;
    settings.filter = {highPass, mains};
    settings.envelope = envelope;
    processor.setSettings(settings);
    PlotView view(&model);
    view.setProcessor(&processor);
    view.resize(700, 300);
    view.setWindowSeconds(2);
    view.setFixedRange(-150, 150);
    const double pi = 3.14159265358979323846;
    // 3 s: a sine of amplitude 100 (RMS 70.7), and one of 1,000 clipped at 800, every 100 ms.
    const double shownRate = rate > 0 ? rate : 1000;
    std::int64_t sample = 0;
    for (int tick = 0; tick < 30; ++tick) {
        QByteArray bytes;
        for (int k = 0; k < int(shownRate / 10); ++k, ++sample) {
            const double t = double(sample) / shownRate;
            const double clipped = std::clamp(1000 * std::sin(2 * pi * 3.1 * t), -800.0, 800.0);
            bytes += QByteArray::number(100 * std::sin(2 * pi * 43 * t), 'f', 2) + ','
                + QByteArray::number(clipped, 'f', 0) + '\n';
        }
        if (rate > 0)
            now += 100;
        model.append(bytes);
        processor.step(model, view.windowSeconds());
    }
    const QImage frame = view.grab().toImage();
    const QStringList legend = view.legendTexts();
    QCOMPARE(legend.size(), 3);
    QVERIFY2(legend.last().contains(status), qPrintable(legend.last()));
    QVERIFY2(!legend[0].contains(QStringLiteral("clipping")), qPrintable(legend[0]));
    // Beyond 800 for 41 % of the time.
    QVERIFY2(legend[1].contains(QRegularExpression(QStringLiteral("clipping (39|40|41|42|43) %"))),
             qPrintable(legend[1]));
    // The rows channel 1 reaches over the newest half of the plot.
    const QRect area = view.plotArea();
    int top = area.height();
    int bottom = 0;
    for (int x = area.width() / 2; x < area.width() - 8; ++x) {
        const QVector<int> rows = rowsAt(frame, area, x);
        if (rows.isEmpty())
            continue;
        top = std::min(top, rows.first());
        bottom = std::max(bottom, rows.last());
    }
    auto rowOf
        = [&](double v) { return 1 + int(std::lround((150 - v) / 300 * (area.height() - 3))); };
    if (flat) {
        QVERIFY2(top >= rowOf(80) && bottom <= rowOf(60),
                 qPrintable(QStringLiteral("rows %1..%2").arg(top).arg(bottom)));
        const QString value = legend[0].split(' ').value(1);
        QVERIFY(std::abs(value.toDouble() - 70.7) < 5);
        // Two decimals at most: the rest is the envelope's ripple.
        QVERIFY2(value.size() <= 5, qPrintable(value));
    } else {
        QVERIFY2(top <= rowOf(90) && bottom >= rowOf(-90),
                 qPrintable(QStringLiteral("rows %1..%2").arg(top).arg(bottom)));
    }
}

void TestPlotView::spectrumReadout_data()
{
    QTest::addColumn<double>("rate"); // 0: every delivery at one moment, so none is measured
    QTest::addColumn<QString>("readout");
    QTest::newRow("a quarter at 50 Hz") << 1000.0 << "ch1 mains 50 Hz: 25 %";
    QTest::newRow("no rate") << 0.0 << "ch1: no spectrum until a sample rate is measured";
}

// 50 Hz of amplitude 100 beside 173 Hz of 173.2: a quarter of the power in the mains line.
void TestPlotView::spectrumReadout()
{
    QFETCH(double, rate);
    QFETCH(QString, readout);
    static std::int64_t now = 0;
    now = 0;
    PlotModel model;
    model.setClock([] { return now; });
    const double pi = 3.14159265358979323846;
    std::int64_t sample = 0;
    for (int tick = 0; tick < 20; ++tick) {
        QByteArray bytes;
        for (int k = 0; k < 100; ++k, ++sample) {
            const double t = double(sample) / 1000;
            bytes
                += QByteArray::number(
                       100 * std::sin(2 * pi * 50 * t) + 173.2 * std::sin(2 * pi * 173 * t), 'f', 3)
                + '\n';
        }
        if (rate > 0)
            now += 100;
        model.append(bytes);
    }
    SpectrumView view(&model);
    view.resize(600, 300);
    view.refresh();
    QCOMPARE(view.readouts(), QStringList{readout});
    view.grab();
}

void TestPlotView::markerAtItsSample_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("gap");
    for (int count : {200, 40000}) {
        QTest::addRow("%d samples, a marker", count) << count << false;
        QTest::addRow("%d samples, a lost device", count) << count << true;
    }
}

// A marker is drawn over its sample's column; a lost device's moment dashed, in its own colour.
void TestPlotView::markerAtItsSample()
{
    QFETCH(int, count);
    QFETCH(bool, gap);
    PlotModel model;
    model.setClock(stillClock);
    PlotMarkers markers;
    qint64 captured = 0;
    markers.setCaptureSize([&captured] { return captured; });
    PlotView view(&model);
    view.setMarkers(&markers);
    view.resize(500, 300);
    view.setFixedRange(0, 100);
    // The marker comes once the line of sample `at` has ended: "50\n" is 3 bytes.
    const int at = count / 3;
    const QByteArray bytes = lines(count, 50);
    captured = (at + 1) * 3;
    markers.feed(model, bytes.left(int(captured)));
    CaptureEvent event;
    event.id = 1;
    event.type = gap ? CaptureEvent::Type::Lost : CaptureEvent::Type::Marker;
    event.offset = captured;
    markers.add(event, model);
    captured = bytes.size();
    markers.feed(model, bytes.mid((at + 1) * 3));

    const QImage frame = view.grab().toImage();
    const QRect area = view.plotArea();
    const int column = int(double(at) * area.width() / count);
    const QColor color = gap ? MarkerLines::gapColor() : MarkerLines::markerColor();
    const int inner = area.height() - 2;
    for (int x = 1; x < area.width() - 1; ++x) {
        int rows = 0;
        for (int y = area.top() + 1; y < area.bottom(); ++y)
            rows += frame.pixelColor(area.left() + x, y) == color;
        const QString where = QStringLiteral("column %1 of %2: %3 rows of %4")
                                  .arg(x)
                                  .arg(column)
                                  .arg(rows)
                                  .arg(inner);
        if (x != column)
            // Only the flag with its number reaches beside the line.
            QVERIFY2(rows < inner / 5, qPrintable(where));
        else if (gap)
            QVERIFY2(rows > inner / 4 && rows < inner * 3 / 4, qPrintable(where));
        else
            QVERIFY2(rows > inner * 9 / 10, qPrintable(where));
    }
}

QTEST_MAIN(TestPlotView)
#include "tst_plotview.moc"
