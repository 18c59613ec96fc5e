#include "app/mainwindow.h"
#include "console/console.h"
#include "plot/plotdock.h"
#include "plot/plotview.h"
#include "ptydevice.h"
#include "serial/capturestore.h"
#include "simulateddevice.h"
#include "windowprobe.h"

#include <QAction>
#include <QApplication>
#include <QPushButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QtTest>

#include <memory>

// Markers pressed in the window while a real pseudo-terminal streams: where they land, that
// their keys stay in the program, and their labels typed afterwards.
class TestMarkers : public QObject, private testkit::WindowProbe
{
    Q_OBJECT

private:
    PlotDock *dock() const { return window->findChild<PlotDock *>(); }
    QStatusBar *statusBar() const { return window->findChild<QStatusBar *>(); }
    QVector<CaptureEvent> markers() const
    {
        QVector<CaptureEvent> found;
        for (const CaptureEvent &e : store()->events()) {
            if (e.type == CaptureEvent::Type::Marker)
                found << e;
        }
        return found;
    }
    // The window shown, connected to path, with the keys going to the console.
    void openConnected(const QString &path)
    {
        openWindow();
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        testkit::LineChoice line{{}, "115200"};
        line.echo = true;
        QVERIFY(connectTo(path, line));
        console()->setFocus();
        QTRY_VERIFY(console()->hasFocus());
    }
    // Types into whatever has the keys, as the user would.
    static void press(const QString &step)
    {
        QWidget *focus = QApplication::focusWidget();
        QVERIFY(focus);
        if (step.startsWith(QLatin1String("type:")))
            QTest::keyClicks(focus, step.mid(5));
        else
            QTest::keySequence(focus, QKeySequence(step));
    }
    // Typed keys reach the device, in order: once an "x" typed last has arrived, the device
    // received all it will.
    static void receivedOnlyX(const testkit::PtyDevice &device, Console *console)
    {
        QTRY_VERIFY(console->hasFocus());
        QTest::keyClick(console, Qt::Key_X);
        QTRY_COMPARE_WITH_TIMEOUT(device.received(), QByteArray("x"), 5000);
    }

private slots:
    void cleanup() { closeWindow(); }
    void keysNeverReachTheDevice_data();
    void keysNeverReachTheDevice();
    void landsAtTheMomentNotTheView_data();
    void landsAtTheMomentNotTheView();
    void labelTypedAfterwards_data();
    void labelTypedAfterwards();
    void labelAcrossAStart_data();
    void labelAcrossAStart();
};

void TestMarkers::keysNeverReachTheDevice_data()
{
    QTest::addColumn<QString>("keys");
    QTest::addColumn<int>("number");
    // Without the shortcuts, Ctrl+M is a CR on the line and Ctrl+1 a "1".
    QTest::newRow("Ctrl+1") << "Ctrl+1" << 1;
    QTest::newRow("Ctrl+9") << "Ctrl+9" << 9;
    QTest::newRow("Ctrl+5 on the keypad") << "Ctrl+Num+5" << 5;
    QTest::newRow("Ctrl+M, then Escape") << "Ctrl+M" << 0;
}

void TestMarkers::keysNeverReachTheDevice()
{
    QFETCH(QString, keys);
    QFETCH(int, number);
    testkit::PtyDevice device{testkit::PtyDevice::Script{}};
    openConnected(device.path);
    press(keys);
    if (number == 0) {
        // The label's entry took the keys: Escape is not sent either.
        QVERIFY(!console()->hasFocus());
        press("Escape");
    }
    receivedOnlyX(device, console());
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(markers().size(), 1);
    QCOMPARE(markers().first().number, number);
    QVERIFY(markers().first().label.isEmpty());
    const QString message = statusBar()->currentMessage();
    const QString shown = number ? QStringLiteral("Marker %1 at ").arg(number) : "Marker at ";
    QVERIFY2(QRegularExpression("^" + shown + "\\d+\\.\\d{3} s$").match(message).hasMatch(),
             qPrintable(message));
    QVERIFY(!console()->toPlainText().contains(QString::number(number)));
}

void TestMarkers::landsAtTheMomentNotTheView_data()
{
    QTest::addColumn<QString>("plot");
    QTest::newRow("shown") << "shown";
    QTest::newRow("paused") << "paused";
    QTest::newRow("hidden") << "hidden";
}

// The marker lands at the capture's byte count when the key is pressed, and the plot draws it on
// the line arriving then, whatever the view shows.
void TestMarkers::landsAtTheMomentNotTheView()
{
    QFETCH(QString, plot);
    devsim::DeviceOptions options;
    options.sampleRate = 2000;
    options.channels = 2;
    devsim::SimulatedDevice device(options);
    std::string error;
    QVERIFY2(device.open(&error), error.c_str());
    device.start();
    openConnected(QString::fromStdString(device.path()));
    if (plot != "hidden")
        action("actionPlot")->trigger();
    startStop();
    const PlotModel &model = dock()->model();
    QTRY_VERIFY_WITH_TIMEOUT(model.history().sampleCount() > 500, 10000);
    PlotView *view = dock()->view();
    if (plot == "paused") {
        window->findChild<QPushButton *>("plotPause")->click();
        QVERIFY(view->isPaused());
        const std::int64_t shown = view->paintedSamples();
        QTRY_VERIFY_WITH_TIMEOUT(model.history().sampleCount() > shown + 1000, 10000);
    }
    console()->setFocus();
    QTRY_VERIFY(console()->hasFocus());

    // Nothing reads the line between here and the key's handling.
    const qint64 bytes = store()->size();
    const std::int64_t arriving = model.history().sampleCount() - (model.atLineEnd() ? 1 : 0);
    press("Ctrl+3");
    QCOMPARE(markers().size(), 1);
    QCOMPARE(markers().first().offset, bytes);
    const auto &marks = dock()->markers().marks();
    QCOMPARE(int(marks.size()), 1);
    QCOMPARE(marks.front().sample, arriving);
    QCOMPARE(marks.front().number, 3);
    if (plot == "paused")
        QVERIFY(marks.front().sample > view->paintedSamples() + 500);
    startStop();
    QTRY_VERIFY_WITH_TIMEOUT(!device.streaming(), 10000);
}

void TestMarkers::labelTypedAfterwards_data()
{
    QTest::addColumn<QStringList>("steps");
    // Of each marker in turn.
    QTest::addColumn<QStringList>("labels");
    QTest::addColumn<QList<int>>("numbers");
    // What the status bar says last.
    QTest::addColumn<QString>("message");
    QTest::newRow("Enter") << QStringList{"Ctrl+M", "type:contraction 3", "Return"}
                           << QStringList{"contraction 3"} << QList<int>{0}
                           << "Marker \u201ccontraction 3\u201d at ";
    QTest::newRow("Escape") << QStringList{"Ctrl+M", "type:contraction 3", "Escape"}
                            << QStringList{""} << QList<int>{0} << "Marker at ";
    QTest::newRow("nothing typed") << QStringList{"Ctrl+M", "type:   ", "Return"} << QStringList{""}
                                   << QList<int>{0} << "Marker at ";
    QTest::newRow("a numbered one meanwhile")
        << QStringList{"Ctrl+M", "type:rest", "Ctrl+2", "type: 1", "Return"}
        << QStringList{"rest 1", ""} << QList<int>{0, 2} << "Marker \u201crest 1\u201d at ";
    QTest::newRow("another label meanwhile")
        << QStringList{"Ctrl+M", "type:rest", "Ctrl+M", "type:lift", "Return"}
        << QStringList{"rest", "lift"} << QList<int>{0, 0} << "Marker \u201clift\u201d at ";
}

// The label goes to the marker it was asked for, which stays where it landed; the capture goes
// on while it is typed, and none of it reaches the device.
void TestMarkers::labelTypedAfterwards()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, labels);
    QFETCH(QList<int>, numbers);
    QFETCH(QString, message);
    testkit::PtyDevice device{testkit::PtyDevice::Script{}};
    device.startStream();
    openConnected(device.path);
    QTRY_VERIFY(store()->size() > 0);
    // A box asking for the label would hold the keys and the window: it is counted and closed.
    int modal = 0;
    QTimer boxes;
    connect(&boxes, &QTimer::timeout, [&modal] {
        if (QWidget *box = QApplication::activeModalWidget()) {
            ++modal;
            box->close();
        }
    });
    boxes.start(100);
    QVector<qint64> offsets;
    for (const QString &step : steps) {
        if (step == "Return" || step == "Escape") {
            // Typing took its time: nothing held the capture meanwhile.
            const qint64 before = store()->size();
            QTRY_VERIFY(store()->size() > before + 200);
        }
        if (step.startsWith("Ctrl+"))
            offsets << store()->size();
        press(step);
    }
    QCOMPARE(modal, 0);
    const QVector<CaptureEvent> placed = markers();
    QCOMPARE(placed.size(), labels.size());
    for (int i = 0; i < placed.size(); ++i) {
        QCOMPARE(placed[i].label, labels[i]);
        QCOMPARE(placed[i].number, numbers[i]);
        QCOMPARE(placed[i].offset, offsets[i]);
    }
    QVERIFY2(statusBar()->currentMessage().startsWith(message),
             qPrintable(statusBar()->currentMessage()));
    QVERIFY(widget("markerEntry")->isHidden());
    receivedOnlyX(device, console());
    if (QTest::currentTestFailed())
        return;
}

void TestMarkers::labelAcrossAStart_data()
{
    QTest::addColumn<bool>("answers"); // whether the device starts on its "s"
    QTest::addColumn<bool>("enterFirst"); // Return before the Start's answer is known
    QTest::addColumn<QStringList>("labels"); // of the markers the capture holds at the end
    QTest::newRow("put back, Enter after") << false << false << QStringList{"rest 1"};
    QTest::newRow("put back, Enter before") << false << true << QStringList{"rest 1"};
    QTest::newRow("confirmed, the marker goes") << true << false << QStringList{};
}

// A Start sets the capture aside until the device answers: a label being typed for its marker
// stays open meanwhile and keeps the keys, and goes only if the new capture begins.
void TestMarkers::labelAcrossAStart()
{
    QFETCH(bool, answers);
    QFETCH(bool, enterFirst);
    QFETCH(QStringList, labels);
    // Without a script the far end never answers: silence puts the capture back.
    const auto device = answers ? std::make_unique<testkit::PtyDevice>(testkit::PtyDevice::Script{})
                                : std::make_unique<testkit::PtyDevice>();
    openConnected(device->path);
    press("Ctrl+M");
    press("type:rest");
    press("Ctrl+S");
    QVERIFY(markers().isEmpty()); // set aside
    QVERIFY(!widget("markerEntry")->isHidden());
    QVERIFY(widget("markerLabel")->hasFocus());
    press("type: 1");
    if (enterFirst)
        press("Return");
    if (answers) {
        QTRY_VERIFY_WITH_TIMEOUT(widget("markerEntry")->isHidden(), 10000);
        QTRY_VERIFY(console()->hasFocus());
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(markers().size(), 1, 10000);
        if (!enterFirst) {
            QVERIFY(widget("markerLabel")->hasFocus());
            press("Return");
        }
    }
    QStringList held;
    for (const CaptureEvent &marker : markers())
        held << marker.label;
    QCOMPARE(held, labels);
    QVERIFY(widget("markerEntry")->isHidden());
}

QTEST_MAIN(TestMarkers)
#include "tst_markers.moc"
