#include "console/console.h"
#include "ptydevice.h"
#include "serial/captureflags.h"
#include "serial/capturestore.h"
#include "serial/streamwatch.h"
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
    void pressDeepInAPause();
    void keyInTheAnswerWindow();
    void twoQuickPresses();
    void stopSoonAfterStart();
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
    // Longer than the plain evidence of a stream, shorter than that after a key.
    ScriptedDevice device({0, 0, 2500, 0});
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

    // Recorded with the capture: the start and its line, what its answer showed, the silence
    // where it fell and how long it lasted, and the presses after it.
    QStringList seen;
    for (const CaptureEvent &event : store()->events()) {
        seen << CaptureEvent::typeName(event.type) + '@' + QString::number(event.offset);
        if (event.type == CaptureEvent::Type::Silence)
            QVERIFY2(event.durationMicros >= 2000000 && event.micros > 0,
                     qPrintable(QString::number(event.durationMicros)));
    }
    QCOMPARE(seen.mid(0, 3), (QStringList{"start@0", "silence@10000", "stop@10000"}));
    QCOMPARE(store()->events().first().label, device.path + " 115200 8N1; data followed: started");
}

// A device that streams in bursts of 1 s with pauses of 2.5 s, which the rule does not take for
// a stream: a press 2 s into a pause stops it, and the silence after it shows a stop.
void TestCaptureState::pressDeepInAPause()
{
    ScriptedDevice device({1000, 2500, 0, 0});
    device.startStream();
    QVERIFY(connectTo(device.path, LineChoice{{}, "115200"}));
    // Once a pause was seen, 1.9 to 2.2 s into the next one.
    QTRY_VERIFY_WITH_TIMEOUT(
        device.cycles() >= 2 && device.cycleMs() >= 2900 && device.cycleMs() < 3200, 15000);
    QCOMPARE(captureState, 0);
    startStop();
    QTRY_VERIFY_WITH_TIMEOUT(!device.streaming(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(indicator().startsWith("Kept: "), 10000);
    QCOMPARE(captureState, 0);
    QCOMPARE(capturedBytes(), device.sent());

    // So the next press starts it, and the capture begins anew.
    const int mark = device.sent().size();
    startStop();
    QTRY_VERIFY_WITH_TIMEOUT(device.streaming(), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(capturedBytes(), device.sent().mid(mark), 10000);
    QCOMPARE(captureState, 1);
}

// A key typed 0.9 s after a press that stopped a stream not yet followed: the stop still shows.
void TestCaptureState::keyInTheAnswerWindow()
{
    ScriptedDevice device({0, 0, 0, 0});
    device.startStream();
    QVERIFY(connectTo(device.path, LineChoice{{}, "115200"}));
    QTRY_VERIFY_WITH_TIMEOUT(capturedBytes().size() > 2000, 10000);
    startStop();
    QTRY_VERIFY_WITH_TIMEOUT(!device.streaming(), 10000);
    QTest::qWait(900); // the moment of the key, not a wait for data
    QTest::keyClick(console(), Qt::Key_V);
    QTRY_VERIFY_WITH_TIMEOUT(indicator().startsWith("Kept: "), 10000);
    QCOMPARE(captureState, 0);
    QTRY_COMPARE_WITH_TIMEOUT(capturedBytes(), device.sent(), 10000);
}

// Two presses 0.2 s apart stop the stream and start it again: what was kept stays.
void TestCaptureState::twoQuickPresses()
{
    ScriptedDevice device({0, 0, 0, 0});
    device.startStream();
    QVERIFY(connectTo(device.path, LineChoice{{}, "115200"}));
    QTRY_VERIFY_WITH_TIMEOUT(capturedBytes().size() > 2000, 10000);
    startStop();
    QTest::qWait(200); // the moment of the second press
    startStop();
    QTRY_COMPARE_WITH_TIMEOUT(captureState, 1, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(capturedBytes().size() > 8000, 10000);
    QVERIFY(device.streaming());
    QVERIFY(device.sent().startsWith(capturedBytes()));
    QVERIFY(indicator().startsWith("Capturing: "));
}

// A Stop within a second of a Start settles it: the capture is what the device sent since, with
// nothing of the previous capture in front of it.
void TestCaptureState::stopSoonAfterStart()
{
    ScriptedDevice device({0, 0, 0, 0});
    store()->append("the previous capture");
    QVERIFY(connectTo(device.path, LineChoice{{}, "115200"}));
    startStop();
    QTRY_VERIFY_WITH_TIMEOUT(capturedBytes().size() > 1000, 10000);
    startStop();
    QTRY_VERIFY_WITH_TIMEOUT(!device.streaming(), 10000);
    // Past the time the stop's answer is due: a wait for the verdict, not for data.
    QTest::qWait(int(StreamWatch::answerDueMs(115200)) + 500);
    QCOMPARE(captureState, 0);
    QTRY_COMPARE_WITH_TIMEOUT(capturedBytes(), device.sent(), 10000);
}

QTEST_MAIN(TestCaptureState)
#include "tst_capturestate.moc"
