#include "console/console.h"
#include "pseudoterminal.h"
#include "serial/captureflags.h"
#include "windowprobe.h"

#include <QMutex>
#include <QMutexLocker>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <thread>
#include <unistd.h>

using testkit::LineChoice;

namespace {

// A device on a pseudo-terminal that the stream watch must read right: it may send in bursts,
// answer a key with a while of output, and stop streaming by itself. Each "s" it receives starts
// or stops its stream; each byte it sends is a function of its position.
class ScriptedDevice
{
public:
    struct Script
    {
        int burstMs = 0; // 0: a steady stream
        int pauseMs = 0;
        int answerMs = 0; // how long it answers a key other than "s"
        qint64 stopsAfter = 0; // once, after streaming this many bytes; 0: never
    };

    explicit ScriptedDevice(const Script &script)
        : script(script)
    {
        std::string name;
        std::string error;
        if (pty::openPair(&master, &slave, &name, &error))
            path = QString::fromStdString(name);
        thread = std::thread([this] { run(); });
    }
    ~ScriptedDevice()
    {
        done = true;
        thread.join();
        pty::closeFd(&master);
        pty::closeFd(&slave);
    }
    ScriptedDevice(const ScriptedDevice &) = delete;
    ScriptedDevice &operator=(const ScriptedDevice &) = delete;

    // As if an earlier run of the program had started it.
    void startStream() { toggle(); }
    bool streaming() const { return isStreaming; }
    bool answering() const { return isAnswering; }
    QByteArray sent() const
    {
        const QMutexLocker lock(&mutex);
        return bytes;
    }

    QString path;

private:
    using Clock = std::chrono::steady_clock;

    void toggle()
    {
        const QMutexLocker lock(&mutex);
        isStreaming = !isStreaming;
        streamStart = Clock::now();
    }
    void run()
    {
        constexpr int Chunk = 40; // every 10 ms: 4 kB/s
        const char pattern[] = "0123456789abcdefghijklmnopqrstuvwxyz\r\n";
        Clock::time_point answerEnd;
        while (!done) {
            char in[64];
            for (ssize_t n = 0; (n = ::read(master, in, sizeof in)) > 0;) {
                for (ssize_t i = 0; i < n; ++i) {
                    if (in[i] == 's')
                        toggle();
                    else
                        answerEnd = Clock::now() + std::chrono::milliseconds(script.answerMs);
                }
            }
            const Clock::time_point now = Clock::now();
            isAnswering = now < answerEnd;
            {
                const QMutexLocker lock(&mutex);
                bool burst = isStreaming;
                if (burst && script.burstMs > 0) {
                    const auto ms
                        = std::chrono::duration_cast<std::chrono::milliseconds>(now - streamStart)
                              .count();
                    burst = ms % (script.burstMs + script.pauseMs) < script.burstMs;
                }
                if (burst || isAnswering) {
                    QByteArray chunk;
                    for (int i = 0; i < Chunk; ++i)
                        chunk += pattern[(bytes.size() + i) % (sizeof pattern - 1)];
                    const ssize_t n = ::write(master, chunk.constData(), size_t(chunk.size()));
                    if (n > 0) {
                        bytes += chunk.left(int(n));
                        if (burst)
                            streamed += n;
                    }
                    if (script.stopsAfter > 0 && !stoppedItself && streamed >= script.stopsAfter) {
                        stoppedItself = true;
                        isStreaming = false;
                    }
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    const Script script;
    int master = -1;
    int slave = -1;
    std::thread thread;
    std::atomic<bool> done{false};
    std::atomic<bool> isStreaming{false};
    std::atomic<bool> isAnswering{false};
    mutable QMutex mutex;
    QByteArray bytes;
    Clock::time_point streamStart;
    qint64 streamed = 0;
    bool stoppedItself = false;
};

} // namespace

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
