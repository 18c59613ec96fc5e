#include "serial/devicepath.h"
#include "serial/portcheck.h"

#include <QSerialPort>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_UNIX
#include "ptydevice.h"

#include <QFile>
#endif

// Settings that no serial line can have are refused before the port opens, with the reason.
class TestPortCheck : public QObject
{
    Q_OBJECT

private slots:
    void problem_data();
    void problem();
    void multiplexerThroughALink();
    void longestNameOpens();
};

void TestPortCheck::problem_data()
{
    // clang-format off
    QTest::addColumn<QString>("port");
    QTest::addColumn<int>("rate");
    QTest::addColumn<QString>("problem"); // how it starts; empty: none

    const QString longest = "/dev/" + QString(250, 'x');
    QTest::newRow("a listed rate") << "/dev/ttyUSB0" << 115200 << "";
    QTest::newRow("the highest rate") << "/dev/ttyUSB0" << 4000000 << "";
    QTest::newRow("one above it") << "/dev/ttyUSB0" << 4000001
        << "The baud rate 4,000,001 is more than the highest the program offers, 4,000,000.";
    QTest::newRow("negative") << "/dev/ttyUSB0" << -5 << "The baud rate -5 is not a rate";
    QTest::newRow("none") << "/dev/ttyUSB0" << 0 << "No baud rate";
    QTest::newRow("no port") << "" << 9600 << "No port is chosen";
    QTest::newRow("a plain name") << "ttyUSB0" << 9600 << "";
    QTest::newRow("the longest name") << longest << 9600 << "";
    QTest::newRow("one byte more") << longest + 'x' << 9600
        << "The device path is too long to open: 251 bytes, and at most 250 can be.";
    QTest::newRow("outside /dev") << "/tmp/" + QString(246, 'x') << 9600
        << "The device path is too long to open: 251 bytes";
    QTest::newRow("3,000 characters") << "/dev/" + QString(3000, 'x') << 9600
        << "The device path is too long to open: 3000 bytes";
    QTest::newRow("counted in bytes") << "/dev/" + QString(126, QChar(0xb5)) << 9600
        << "The device path is too long to open: 252 bytes";
#ifdef Q_OS_UNIX
    QTest::newRow("the multiplexer") << "/dev/ptmx" << 9600
        << "/dev/ptmx is the system's pseudo-terminal multiplexer, not a device";
    QTest::newRow("by its plain name") << "ptmx" << 9600 << "ptmx is the system's pseudo-terminal";
    QTest::newRow("in /dev/pts") << "/dev/pts/ptmx" << 9600 << "/dev/pts/ptmx is the system's";
    QTest::newRow("spelt another way") << "/dev//./ptmx" << 9600 << "/dev//./ptmx is the system's";
    QTest::newRow("a terminal's far end") << "/dev/pts/3" << 9600 << "";
#endif
    // clang-format on
}

void TestPortCheck::problem()
{
    QFETCH(QString, port);
    QFETCH(int, rate);
    QFETCH(QString, problem);
    PortSettings settings;
    settings.portName = port;
    settings.baudRate = rate;
    const QString found = PortCheck::problem(settings);
    if (problem.isEmpty())
        QVERIFY2(found.isEmpty(), qPrintable(found));
    else
        QVERIFY2(found.startsWith(problem), qPrintable(found));
}

void TestPortCheck::multiplexerThroughALink()
{
#ifdef Q_OS_UNIX
    QTemporaryDir dir;
    const QString link = dir.filePath("device");
    QVERIFY(QFile::link("/dev/ptmx", link));
    PortSettings settings;
    settings.portName = link;
    settings.baudRate = 9600;
    QVERIFY(PortCheck::problem(settings).contains("pseudo-terminal multiplexer"));
#else
    QSKIP("a POSIX device");
#endif
}

// The limit is the one Qt Serial Port has: a name of the longest length opens, one byte more
// would fail to lock.
void TestPortCheck::longestNameOpens()
{
#ifdef Q_OS_UNIX
    testkit::PtyDevice device;
    QVERIFY(!device.path.isEmpty());
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (const int bytes : {SerialPortName::MaxBytes, SerialPortName::MaxBytes + 1}) {
        const QString link = dir.path() + '/' + QString(bytes - dir.path().size() - 1, 'l');
        QCOMPARE(QFile::encodeName(link).size(), bytes);
        QVERIFY(QFile::link(device.path, link));
        QSerialPort port(link);
        const bool opened = port.open(QIODevice::ReadWrite);
        QVERIFY2(opened == (bytes <= SerialPortName::MaxBytes), qPrintable(port.errorString()));
        QFile::remove(link);
    }
#else
    QSKIP("a POSIX pseudo-terminal");
#endif
}

QTEST_GUILESS_MAIN(TestPortCheck)
#include "tst_portcheck.moc"
