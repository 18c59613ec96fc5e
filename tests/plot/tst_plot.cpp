#include "app/mainwindow.h"
#include "plot/plotdock.h"
#include "plot/plotview.h"
#include "plot/psdview.h"
#include "simulateddevice.h"
#include "windowprobe.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QtTest>

#include <memory>

// The plot in the main window, against the simulated device on a real pseudo-terminal.
class TestPlot : public QObject, private testkit::WindowProbe
{
    Q_OBJECT

private:
    std::unique_ptr<devsim::SimulatedDevice> device;

    QByteArray sent() const { return QByteArray::fromStdString(device->sent()); }
    PlotDock *dock() const { return window->findChild<PlotDock *>(); }
    const History &history() const { return dock()->model().history(); }

    // Streams `channels` values per line from the device, with the plot shown.
    void stream(int channels)
    {
        devsim::DeviceOptions options;
        options.keepSent = true;
        options.sampleRate = 2000;
        options.channels = channels;
        device = std::make_unique<devsim::SimulatedDevice>(options);
        std::string error;
        QVERIFY2(device->open(&error), error.c_str());
        device->start();
        openWindow();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QVERIFY(dock()->isHidden());
        action("actionPlot")->trigger();
        QVERIFY(dock()->isVisible());
        QVERIFY(
            connectTo(QString::fromStdString(device->path()), testkit::LineChoice{{}, "115200"}));
        startStop();
        QTRY_VERIFY_WITH_TIMEOUT(history().sampleCount() > 500, 10000);
    }
    void stopStream()
    {
        startStop();
        QTRY_VERIFY_WITH_TIMEOUT(!device->streaming(), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(capturedBytes().size(), sent().size(), 10000);
    }

private slots:
    void cleanup()
    {
        closeWindow();
        device.reset();
    }
    void valuesSentAreHeld_data();
    void valuesSentAreHeld();
    void everyViewLeavesTheCapture();
    void pauseKeepsTheView();
    void clearEmptiesThePlot();
    void hiddenDrawsNothing();
    void rateText_data();
    void rateText();
};

void TestPlot::valuesSentAreHeld_data()
{
    QTest::addColumn<int>("channels");
    QTest::newRow("1 channel") << 1;
    QTest::newRow("8 channels") << 8;
}

void TestPlot::valuesSentAreHeld()
{
    QFETCH(int, channels);
    stream(channels);
    QTRY_VERIFY_WITH_TIMEOUT(history().sampleCount() > 3000, 20000);
    stopStream();
    // The capture is byte-exact with the plot reading beside it.
    QVERIFY(capturedBytes() == sent());
    // A line ends at its CR: the stop may come between the CR and the LF of the device's CRLF,
    // and that line is whole.
    const QList<QByteArray> lines = sent().split('\r');
    QCOMPARE(history().sampleCount(), lines.size() - 1);
    QCOMPARE(history().channelCount(), channels);
    for (int i = 0; i + 1 < lines.size(); ++i) {
        const QList<QByteArray> values = lines[i].trimmed().split(',');
        for (int c = 0; c < channels; ++c) {
            float held = 0;
            QVERIFY(history().value(c, i, &held));
            QCOMPARE(held, values[c].toFloat());
        }
    }
    QCOMPARE(dock()->model().latest(channels - 1),
             lines[lines.size() - 2].trimmed().split(',').last().toDouble());
}

// The filtered envelope, then the spectrum, shown while the device streams: the capture and the
// raw history hold every byte and value as sent.
void TestPlot::everyViewLeavesTheCapture()
{
    stream(3);
    auto choose = [&](const char *name, int index) {
        window->findChild<QComboBox *>(name)->setCurrentIndex(index);
    };
    choose("plotHighPass", 2);
    choose("plotMains", 1);
    choose("plotShow", 2);
    window->findChild<QCheckBox *>("plotAdcStated")->setChecked(true);
    PlotView *view = dock()->view();
    QTRY_VERIFY_WITH_TIMEOUT(dock()->processor().shows(), 10000);
    const std::int64_t processedFrom = dock()->processor().end();
    QTRY_VERIFY_WITH_TIMEOUT(dock()->processor().end() > processedFrom + 1000, 10000);
    QTRY_VERIFY(view->legendTexts().last().contains("Envelope"));
    window->findChild<QPushButton *>("plotSpectrum")->click();
    QSignalSpy spectra(dock()->spectrumView(), &SpectrumView::refreshed);
    QTRY_VERIFY_WITH_TIMEOUT(spectra.count() >= 3, 10000);
    QVERIFY(dock()->spectrumView()->readouts().first().contains("mains"));
    stopStream();
    QVERIFY(capturedBytes() == sent());
    const QList<QByteArray> lines = sent().split('\r');
    QCOMPARE(history().sampleCount(), lines.size() - 1);
    for (int i = 0; i + 1 < lines.size(); ++i) {
        const QList<QByteArray> values = lines[i].trimmed().split(',');
        for (int c = 0; c < 3; ++c) {
            float held = 0;
            QVERIFY(history().value(c, i, &held));
            QCOMPARE(held, values[c].toFloat());
        }
    }
}

void TestPlot::pauseKeepsTheView()
{
    stream(2);
    PlotView *view = dock()->view();
    QTRY_VERIFY_WITH_TIMEOUT(view->paintedSamples() > 500, 10000);
    window->findChild<QPushButton *>("plotPause")->click();
    QVERIFY(view->isPaused());
    view->repaint();
    const QImage frozen = view->grab().toImage();
    const std::int64_t shown = view->paintedSamples();
    const int capturedThen = capturedBytes().size();
    // Reading and capturing go on.
    QTRY_VERIFY_WITH_TIMEOUT(capturedBytes().size() > capturedThen + 2000, 10000);
    QVERIFY(history().sampleCount() > shown + 100);
    view->repaint();
    QCOMPARE(view->paintedSamples(), shown);
    QVERIFY(view->grab().toImage() == frozen);
    // Resume jumps back to live.
    window->findChild<QPushButton *>("plotPause")->click();
    QTRY_VERIFY_WITH_TIMEOUT(view->paintedSamples() > shown + 100, 10000);
    stopStream();
    QVERIFY(capturedBytes() == sent());
}

void TestPlot::clearEmptiesThePlot()
{
    stream(3);
    stopStream();
    QVERIFY(history().sampleCount() > 0);
    action("actionClear")->trigger();
    QCOMPARE(history().sampleCount(), 0);
    QCOMPARE(dock()->model().channelCount(), 0);
    dock()->view()->repaint();
    QCOMPARE(dock()->view()->paintedSamples(), 0);
    // What arrives next is plotted from nothing.
    startStop();
    QTRY_VERIFY_WITH_TIMEOUT(history().sampleCount() > 100, 10000);
    QCOMPARE(dock()->model().channelCount(), 3);
}

void TestPlot::hiddenDrawsNothing()
{
    stream(1);
    action("actionPlot")->trigger();
    QVERIFY(dock()->isHidden());
    QSignalSpy frames(dock()->view(), &PlotView::framePainted);
    const std::int64_t before = history().sampleCount();
    // It reads on, so that it shows what came while hidden once shown again.
    QTRY_VERIFY_WITH_TIMEOUT(history().sampleCount() > before + 1000, 10000);
    QCOMPARE(frames.count(), 0);
    action("actionPlot")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(dock()->view()->paintedSamples() > before + 1000, 10000);
    stopStream();
}

void TestPlot::rateText_data()
{
    QTest::addColumn<double>("rate");
    QTest::addColumn<QString>("shown");
    QTest::newRow("slow") << 83.3 << "83 samples/s";
    QTest::newRow("thousands") << 1000.0 << "1,000 samples/s";
    QTest::newRow("three figures") << 12333.3 << "12,300 samples/s";
}

// The legend's rate, in three significant figures from a thousand on.
void TestPlot::rateText()
{
    QFETCH(double, rate);
    QFETCH(QString, shown);
    QCOMPARE(PlotView::rateText(rate), shown);
}

QTEST_MAIN(TestPlot)
#include "tst_plot.moc"
