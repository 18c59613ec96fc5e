#include "app/mainwindow.h"
#include "simulateddevice.h"
#include "windowprobe.h"

#include <QSerialPort>
#include <QtTest>

#include <csignal>
#include <unistd.h>

// Ended by a signal, the program closes its window as Quit does, and so lets go of the port.
class TestUnixSignals : public QObject, private testkit::WindowProbe
{
    Q_OBJECT

private slots:
    void init() { openWindow(); }
    void cleanup() { closeWindow(); }
    void terminationSignalsQuit_data();
    void terminationSignalsQuit();
};

void TestUnixSignals::terminationSignalsQuit_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGHUP") << SIGHUP;
}

void TestUnixSignals::terminationSignalsQuit()
{
    QFETCH(int, signal);
    devsim::SimulatedDevice device;
    std::string error;
    QVERIFY2(device.open(&error), error.c_str());
    const QString path = QString::fromStdString(device.path());
    QVERIFY(connectTo(path));
    QVERIFY(!QSerialPort(path).open(QIODevice::ReadWrite));

    // As main() runs the program: the signal closes the window, which ends the event loop.
    window->show();
    QTimer::singleShot(0, [signal] { ::kill(::getpid(), signal); });
    QTimer failsafe;
    failsafe.setSingleShot(true);
    failsafe.start(30000);
    connect(&failsafe, &QTimer::timeout, qApp, [] { QCoreApplication::exit(1); });
    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(!window->isVisible());
    closeWindow();
    QSerialPort other(path);
    QVERIFY2(other.open(QIODevice::ReadWrite), qPrintable(other.errorString()));
}

QTEST_MAIN(TestUnixSignals)
#include "tst_unixsignals.moc"
