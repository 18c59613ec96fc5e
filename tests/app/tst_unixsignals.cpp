#include "app/mainwindow.h"
#include "modalanswerer.h"
#include "serial/capturesaver.h"
#include "serial/capturestore.h"
#include "simulateddevice.h"
#include "windowprobe.h"

#include <QAction>
#include <QProgressBar>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// Ended by a signal, the program closes its window as Quit does, and so lets go of the port.
class TestUnixSignals : public QObject, private testkit::WindowProbe
{
    Q_OBJECT

private slots:
    void init() { openWindow(); }
    void cleanup() { closeWindow(); }
    void terminationSignalsQuit_data();
    void terminationSignalsQuit();
    void secondQuitEndsAWaitingSave_data();
    void secondQuitEndsAWaitingSave();
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

void TestUnixSignals::secondQuitEndsAWaitingSave_data()
{
    QTest::addColumn<int>("signal"); // 0: the Quit action
    QTest::newRow("Quit") << 0;
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
}

// A save into a pipe whose reader never reads cannot finish: the first Quit waits for it, the
// second cancels it, and the save queued behind it, and ends the program.
void TestUnixSignals::secondQuitEndsAWaitingSave()
{
    QFETCH(int, signal);
    QTemporaryDir dir;
    std::vector<int> readers;
    store()->append(QByteArray(1 << 20, 'x'));
    ModalAnswerer answerer;
    window->show();
    for (const char *name : {"unread.fifo", "queued.fifo"}) {
        const QByteArray fifo = QFile::encodeName(dir.filePath(QString::fromLatin1(name)));
        QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
        readers.push_back(::open(fifo.constData(), O_RDONLY | O_NONBLOCK));
        QVERIFY(readers.back() >= 0);
        answerer.fileName = QFile::decodeName(fifo);
        QMetaObject::invokeMethod(window.get(), "on_actionSave_triggered");
    }
    QTRY_VERIFY(saver()->written() > 0);
    QVERIFY(saver()->fileName().endsWith(QLatin1String("unread.fifo")));

    const auto quit = [this, signal] {
        if (signal != 0)
            ::kill(::getpid(), signal);
        else
            action("actionQuit")->trigger();
    };
    quit();
    auto *const progress = qobject_cast<QProgressBar *>(widget("saveProgress"));
    QTRY_VERIFY(progress->isVisible());
    QVERIFY2(progress->format().startsWith("Saving, then quitting (Quit again to cancel)"),
             qPrintable(progress->format()));
    QVERIFY(window->isVisible());
    QVERIFY(saver()->isBusy());
    quit();
    QTRY_VERIFY(!window->isVisible());
    // Not the queued save either: it would wait for its own reader as long.
    QTRY_VERIFY2(!saver()->isBusy(), qPrintable(saver()->fileName()));
    for (const int reader : readers)
        ::close(reader);
}

QTEST_MAIN(TestUnixSignals)
#include "tst_unixsignals.moc"
