#include "app/mainwindow.h"
#include "childmodes.h"
#include "modalanswerer.h"
#include "plot/plotmodel.h"
#include "serial/captureflags.h"
#include "serial/capturestore.h"
#include "serial/devicewatch.h"
#include "simulateddevice.h"
#include "windowprobe.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMessageBox>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <cstdio>
#include <memory>

using testkit::LineChoice;

namespace {

QString linkPath(const QTemporaryDir &dir)
{
    return dir.filePath(QStringLiteral("by-id-tarvex"));
}

QVector<CaptureEvent::Type> eventTypes(const QVector<CaptureEvent> &events)
{
    QVector<CaptureEvent::Type> types;
    for (const CaptureEvent &event : events)
        types << event.type;
    return types;
}

// The program, a device behind a link that unplugs, and Quit as soon as the program waits for
// it. Prints how long the program took to end after Quit.
int quitWhileWaiting(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QTemporaryDir dir;
    devsim::SimulatedDevice device;
    std::string error;
    if (!dir.isValid() || !device.open(&error)
        || !device.linkTo(linkPath(dir).toStdString(), &error))
        return 3;
    device.start();
    testkit::WindowProbe probe;
    probe.openWindow();
    probe.window->show();
    ModalAnswerer answerer;
    if (!probe.connectTo(linkPath(dir)))
        return 4;
    device.unplug();
    QElapsedTimer sinceQuit;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!sinceQuit.isValid() && probe.status().startsWith(QLatin1String("Device lost at "))) {
            sinceQuit.start();
            probe.action("actionQuit")->trigger();
        }
    });
    poll.start(10);
    app.exec();
    std::printf("%lld\n", static_cast<long long>(sinceQuit.isValid() ? sinceQuit.elapsed() : -1));
    return 0;
}

} // namespace

// A device that is unplugged and comes back, through the simulated device's unplug on a real
// pseudo-terminal behind a link, as a user opens /dev/serial/by-id/...
class TestReconnect : public QObject, private testkit::WindowProbe
{
    Q_OBJECT

private:
    std::unique_ptr<devsim::SimulatedDevice> device;
    std::unique_ptr<ModalAnswerer> answerer;
    QTemporaryDir dir;
    // How often the identity of what is at the link was asked for.
    std::atomic<int> identityAsked{0};

    DeviceWatch *watch() const { return window->findChild<DeviceWatch *>(); }
    QByteArray sent() const { return QByteArray::fromStdString(device->sent()); }
    // The device's claimed identity stands in for the USB identity a pseudo-terminal lacks.
    void startDevice(devsim::DeviceOptions options)
    {
        options.keepSent = true;
        options.pattern = devsim::Pattern::TestPattern;
        device = std::make_unique<devsim::SimulatedDevice>(options);
        std::string error;
        QVERIFY2(device->open(&error), error.c_str());
        QVERIFY2(device->linkTo(linkPath(dir).toStdString(), &error), error.c_str());
        device->start();
        watch()->setProbe([this](const QString &path) {
            ++identityAsked;
            if (!QFileInfo::exists(path))
                return DeviceIdentity{};
            return DeviceIdentity{"1a86", "7523", QString::fromStdString(device->identity())};
        });
        QVERIFY(connectTo(linkPath(dir), LineChoice{{}, "115200"}));
    }
    void verifyWaiting()
    {
        QTRY_VERIFY_WITH_TIMEOUT(status().startsWith(QLatin1String("Device lost at ")), 10000);
        QVERIFY2(status().endsWith("; reconnecting when " + linkPath(dir) + " returns"),
                 qPrintable(status()));
        QVERIFY(!port()->isOpen());
        QVERIFY(action("actionConnect")->isEnabled());
        QVERIFY(action("actionDisconnect")->isEnabled());
    }
    // Stops the device and waits for the tail: then the capture must be all it sent.
    void stopAndCompare()
    {
        QTRY_COMPARE_WITH_TIMEOUT(captureState, 1, 10000);
        startStop();
        QTRY_VERIFY_WITH_TIMEOUT(!device->streaming(), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(capturedBytes().size(), sent().size(), 10000);
        QVERIFY(capturedBytes() == sent());
    }

private slots:
    void init();
    void cleanup();
    void streamsThroughTheGap();
    void comesBackIdle();
    void disconnectEndsTheWaiting();
    void connectTriesAtOnce();
    void differentIdentityNotTaken();
    void quitWhileWaiting();
    void brokenLineDropped();
    void twentyUnplugs();
};

void TestReconnect::init()
{
    QVERIFY(dir.isValid());
    openWindow();
    answerer = std::make_unique<ModalAnswerer>();
    identityAsked = 0;
}

void TestReconnect::cleanup()
{
    answerer.reset();
    closeWindow();
    device.reset();
}

void TestReconnect::streamsThroughTheGap()
{
    // The box stays up through the gap and the return: it must stop neither. Should it hold the
    // test in an event loop of its own, it is closed after a while, so that the test fails.
    answerer.reset();
    QTimer unblock;
    unblock.setSingleShot(true);
    connect(&unblock, &QTimer::timeout, [] {
        if (QWidget *modal = QApplication::activeModalWidget())
            modal->close();
    });
    unblock.start(15000);
    devsim::DeviceOptions options;
    options.unplugAfterMs = 2000;
    options.awayMs = 2000;
    startDevice(options);
    startStop();
    QTRY_VERIFY_WITH_TIMEOUT(device->away(), 10000);
    verifyWaiting();
    const auto box = [] { return qobject_cast<QMessageBox *>(QApplication::activeModalWidget()); };
    QTRY_VERIFY(box());
    QCOMPARE(box()->windowTitle() + ": " + box()->text(),
             QStringLiteral("Critical Error: The device stopped responding or was unplugged."));
    // Everything the device wrote before the unplug, read before the port was closed.
    const qint64 before = sent().size();
    QVERIFY(before > 10000);
    QCOMPARE(capturedBytes(), sent());

    QTRY_VERIFY_WITH_TIMEOUT(port()->isOpen(), 10000);
    QVERIFY2(box(), "the box was closed before the device came back");
    const QRegularExpressionMatch said
        = QRegularExpression("^Reconnected after (\\d+\\.\\d) s \\(gap recorded\\)$")
              .match(status());
    QVERIFY2(said.hasMatch(), qPrintable(status()));
    QTRY_VERIFY_WITH_TIMEOUT(capturedBytes().size() > before + 10000, 10000);
    stopAndCompare();

    const QVector<CaptureEvent> events = store()->events();
    const QVector<CaptureEvent::Type> gap{CaptureEvent::Type::Lost,
                                          CaptureEvent::Type::Reconnected};
    QVERIFY(eventTypes(events).indexOf(gap[0]) >= 0);
    const int lost = eventTypes(events).indexOf(gap[0]);
    QCOMPARE(events.value(lost + 1).type, gap[1]);
    QCOMPARE(events[lost].offset, before);
    QCOMPARE(events[lost + 1].offset, before);
    // Away for 2 s; the loss is seen a little after the unplug (tens of ms on a busy machine),
    // the return within a look of 500 ms.
    const qint64 gapMicros = events[lost + 1].durationMicros;
    QVERIFY2(gapMicros >= 1800000 && gapMicros < 3000000, qPrintable(QString::number(gapMicros)));
    QCOMPARE(said.captured(1), QString::number(double(gapMicros) / 1e6, 'f', 1));
    QVERIFY(eventTypes(events).indexOf(CaptureEvent::Type::Restarted) < 0);
    // The usual text once the note has been read.
    QTRY_COMPARE_WITH_TIMEOUT(
        status(), "Connected to " + linkPath(dir) + " : 115200, 8, None, 1, None", 10000);
    QVERIFY(box());
    box()->close();
}

void TestReconnect::comesBackIdle()
{
    devsim::DeviceOptions options;
    options.unplugAfterMs = 1500;
    options.awayMs = 500;
    options.returnIdle = true;
    startDevice(options);
    startStop();
    QTRY_VERIFY_WITH_TIMEOUT(device->away(), 10000);
    verifyWaiting();
    QCOMPARE(captureState, 0);
    const QByteArray before = capturedBytes();
    QVERIFY(before.size() > 5000);
    QCOMPARE(before, sent());

    QTRY_VERIFY_WITH_TIMEOUT(port()->isOpen(), 10000);
    QVERIFY(!device->streaming());
    QCOMPARE(captureState, 0);
    // The next press starts it again into the same capture: nothing is set aside.
    startStop();
    QCOMPARE(captureState, 1);
    QCOMPARE(store()->size(), qint64(before.size()));
    QTRY_VERIFY_WITH_TIMEOUT(device->streaming(), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(capturedBytes().size() > before.size() + 10000, 10000);
    stopAndCompare();
    QVERIFY(capturedBytes().startsWith(before));
    const QVector<CaptureEvent::Type> types = eventTypes(store()->events());
    const int lost = types.indexOf(CaptureEvent::Type::Lost);
    QVERIFY(lost >= 0);
    // The restarting press is no Stop: only the last press stopped the device.
    QCOMPARE(
        types.mid(lost),
        (QVector<CaptureEvent::Type>{CaptureEvent::Type::Lost, CaptureEvent::Type::Reconnected,
                                     CaptureEvent::Type::Restarted, CaptureEvent::Type::Stop}));
    // After a Stop, a press begins a new capture.
    startStop();
    QCOMPARE(store()->size(), qint64(0));
}

void TestReconnect::disconnectEndsTheWaiting()
{
    startDevice({});
    device->unplug();
    QTRY_VERIFY_WITH_TIMEOUT(device->away(), 10000);
    verifyWaiting();
    action("actionDisconnect")->trigger();
    QCOMPARE(status(), QStringLiteral("Disconnected"));
    QVERIFY(!action("actionDisconnect")->isEnabled());
    QSignalSpy returned(watch(), &DeviceWatch::returned);
    device->replug();
    QTRY_VERIFY_WITH_TIMEOUT(!device->away(), 10000);
    // Two looks' time with the device back: nobody looks, nothing opens.
    QVERIFY(!returned.wait(3 * DeviceWatch::LookIntervalMs));
    QVERIFY(!port()->isOpen());
    QCOMPARE(status(), QStringLiteral("Disconnected"));
}

void TestReconnect::connectTriesAtOnce()
{
    startDevice({});
    startStop();
    QTRY_VERIFY_WITH_TIMEOUT(capturedBytes().size() > 1000, 10000);
    device->unplug();
    QTRY_VERIFY_WITH_TIMEOUT(device->away(), 10000);
    verifyWaiting();
    // The loss's box first, so that the next one seen is Connect's.
    QTRY_COMPARE(answerer->boxes.size(), 1);
    // Not there yet: the box says why, and the waiting goes on.
    QVERIFY(!connectTo(linkPath(dir), LineChoice{{}, "115200"}));
    QTRY_COMPARE(answerer->boxes.size(), 2);
    QVERIFY(answerer->boxes.last().startsWith(QLatin1String("Error: ")));
    QVERIFY(status().startsWith(QLatin1String("Device lost at ")));
    QVERIFY(watch()->waiting());
    device->replug();
    QTRY_VERIFY_WITH_TIMEOUT(!device->away(), 10000);
    // Within the look's interval: the press opened it, into the same capture.
    QVERIFY(connectTo(linkPath(dir), LineChoice{{}, "115200"}));
    QVERIFY(!watch()->waiting());
    QCOMPARE(eventTypes(store()->events()).count(CaptureEvent::Type::Reconnected), 1);
    QVERIFY(status().startsWith(QLatin1String("Reconnected after ")));
    stopAndCompare();
}

void TestReconnect::differentIdentityNotTaken()
{
    devsim::DeviceOptions options;
    options.identityOnReturn = "another adapter";
    startDevice(options);
    device->unplug();
    QTRY_VERIFY_WITH_TIMEOUT(device->away(), 10000);
    verifyWaiting();
    const int askedBefore = identityAsked;
    device->replug();
    QTRY_VERIFY_WITH_TIMEOUT(identityAsked > askedBefore || port()->isOpen(), 10000);
    QVERIFY2(!port()->isOpen(), "another adapter was taken for the lost device");
    // Asked once: while it stays, the different device costs a stat() a look.
    const int looks = watch()->looks();
    QTRY_VERIFY_WITH_TIMEOUT(watch()->looks() >= looks + 2, 5000);
    QCOMPARE(int(identityAsked), askedBefore + 1);
    QVERIFY(!port()->isOpen());
    QVERIFY(watch()->waiting());
    QVERIFY(status().startsWith(QLatin1String("Device lost at ")));
}

void TestReconnect::quitWhileWaiting()
{
    const QString out = testkit::runChild(QStringLiteral("--quit-while-waiting"), {}, 20000);
    bool number = false;
    const int ms = out.trimmed().toInt(&number);
    QVERIFY2(number && ms >= 0, qPrintable(out));
    QVERIFY2(ms < 1000, qPrintable(out));
}

void TestReconnect::brokenLineDropped()
{
    // "12.5" was cut by the gap, and "7" is the end of a line the gap began.
    PlotModel model;
    model.append("1\r\n2\r\n12");
    model.breakLine();
    model.append(".5 ");
    model.append("7\r\n3\r\n");
    QCOMPARE(model.history().sampleCount(), std::int64_t(3));
    QCOMPARE(model.latest(0), 3.0);
}

void TestReconnect::twentyUnplugs()
{
    devsim::DeviceOptions options;
    options.unplugAfterMs = 700;
    options.awayMs = 300;
    options.unplugCount = 20;
    startDevice(options);
    startStop();
    QTRY_VERIFY_WITH_TIMEOUT(device->unplugs() == 20 && !device->away(), 120000);
    QTRY_VERIFY_WITH_TIMEOUT(port()->isOpen(), 10000);
    stopAndCompare();
    const QVector<CaptureEvent::Type> types = eventTypes(store()->events());
    QCOMPARE(types.count(CaptureEvent::Type::Lost), 20);
    QCOMPARE(types.count(CaptureEvent::Type::Reconnected), 20);
}

int main(int argc, char *argv[])
{
    if (argc > 1 && qstrcmp(argv[1], "--quit-while-waiting") == 0) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return quitWhileWaiting(argc, argv);
    }
    QApplication app(argc, argv);
    TestReconnect test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_reconnect.moc"
