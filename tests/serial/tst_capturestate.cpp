#include "console/console.h"
#include "ptydevice.h"
#include "serial/captureflags.h"
#include "windowprobe.h"

#include <QtTest>

using testkit::LineChoice;

// A device on a pseudo-terminal that the stream watch must read right.
using ScriptedDevice = testkit::PtyDevice;

// The capture's state follows devices whose streams are not steady, and no press costs what was
// received.
class TestCaptureState : public QObject, private testkit::WindowProbe
{
    Q_OBJECT

private slots:
    void init() { openWindow(); }
    void cleanup() { closeWindow(); }
    void burstyDevice_data();
    void burstyDevice();
    void longAnswerIsNoStream();
    void deviceStopsByItself();
};

void TestCaptureState::burstyDevice_data()
{
    QTest::addColumn<bool>("followed");
    QTest::newRow("followed, then stopped") << true;
    QTest::newRow("stopped before it was followed") << false;
}

void TestCaptureState::burstyDevice()
{
    QFETCH(bool, followed);
    ScriptedDevice device({500, 600, 0, 0});
    QVERIFY(connectTo(device.path, LineChoice{{}, "115200"}));
    device.startStream();
    if (followed) {
        QTRY_COMPARE_WITH_TIMEOUT(captureState, 1, 15000);
        QVERIFY(indicator().startsWith("Capturing: "));
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(capturedBytes().size() > 1000, 10000);
        // Believed a start, the press stops the device.
        QCOMPARE(captureState, 0);
    }
    startStop();
    QTRY_VERIFY_WITH_TIMEOUT(!device.streaming(), 10000);
    // The device's answer shows a stop: nothing it sent is emptied.
    QTRY_COMPARE_WITH_TIMEOUT(captureState, 0, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(capturedBytes(), device.sent(), 10000);
    QTRY_VERIFY(indicator().startsWith("Kept: "));
}

void TestCaptureState::longAnswerIsNoStream()
{
    ScriptedDevice device({0, 0, 2000, 0});
    QVERIFY(connectTo(device.path, LineChoice{{}, "115200"}));
    QTest::keyClick(console(), Qt::Key_V);
    QTRY_VERIFY_WITH_TIMEOUT(device.answering(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!device.answering(), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(capturedBytes(), device.sent(), 10000);
    QCOMPARE(captureState, 0);
    QVERIFY(indicator().startsWith("Kept: "));

    // So the next press is a start, and the capture holds what came after it.
    const int mark = device.sent().size();
    startStop();
    QTRY_VERIFY_WITH_TIMEOUT(device.streaming(), 10000);
    QCOMPARE(captureState, 1);
    QTRY_VERIFY_WITH_TIMEOUT(device.sent().size() > mark + 8000, 10000);
    startStop();
    QTRY_VERIFY_WITH_TIMEOUT(!device.streaming(), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(capturedBytes(), device.sent().mid(mark), 10000);
    QCOMPARE(captureState, 0);
}

void TestCaptureState::deviceStopsByItself()
{
    ScriptedDevice device({0, 0, 0, 10000});
    QVERIFY(connectTo(device.path, LineChoice{{}, "115200"}));
    startStop();
    QTRY_VERIFY_WITH_TIMEOUT(device.streaming(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!device.streaming(), 15000);
    QTRY_COMPARE_WITH_TIMEOUT(capturedBytes(), device.sent(), 10000);

    // The silence is told, and the belief stays: a device may pause.
    QTRY_VERIFY_WITH_TIMEOUT(indicator().contains(", nothing received for "), 10000);
    QVERIFY2(indicator().startsWith("Capturing: 10.0 kB, nothing received for "),
             qPrintable(indicator()));
    QCOMPARE(captureState, 1);

    // Meant as a stop, the next press starts the device again; its answer shows it, and what
    // was kept stays.
    const QByteArray first = device.sent();
    startStop();
    QTRY_VERIFY_WITH_TIMEOUT(device.streaming(), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(captureState, 1, 10000);
    QTRY_VERIFY(!indicator().contains("nothing received"));
    startStop();
    QTRY_VERIFY_WITH_TIMEOUT(!device.streaming(), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(capturedBytes(), device.sent(), 10000);
    QVERIFY(capturedBytes().startsWith(first));
    QCOMPARE(captureState, 0);
}

QTEST_MAIN(TestCaptureState)
#include "tst_capturestate.moc"
