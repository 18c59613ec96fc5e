#include "serial/devicepath.h"

#include <QtTest>

// Which save targets Windows would open as a device or a pipe, so that no plain file replaces
// them.
class TestDevicePath : public QObject
{
    Q_OBJECT

private slots:
    void recognises_data();
    void recognises();
};

void TestDevicePath::recognises_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("device");

    QTest::newRow("COM port") << QStringLiteral("\\\\.\\COM3") << true;
    QTest::newRow("COM port above 9") << QStringLiteral("\\\\.\\COM12") << true;
    QTest::newRow("named pipe") << QStringLiteral("\\\\.\\pipe\\tarvex") << true;
    QTest::newRow("pipe with forward slashes") << QStringLiteral("//./pipe/tarvex") << true;
    QTest::newRow("the namespace alone") << QStringLiteral("\\\\.\\") << false;
    QTest::newRow("NUL in a folder") << QStringLiteral("C:/Users/a/NUL") << true;
    QTest::newRow("nul with an extension") << QStringLiteral("C:\\data\\nul.txt") << true;
    QTest::newRow("COM1 with trailing space") << QStringLiteral("COM1 ") << true;
    QTest::newRow("lpt9, two extensions") << QStringLiteral("d:/lpt9.tar.gz") << true;
    QTest::newRow("console output") << QStringLiteral("CONOUT$") << true;
    QTest::newRow("COM10 is a file") << QStringLiteral("C:/data/COM10.txt") << false;
    QTest::newRow("reserved word inside a name")
        << QStringLiteral("C:/data/nullified.txt") << false;
    QTest::newRow("reserved folder, plain file") << QStringLiteral("C:/con/capture.txt") << false;
    QTest::newRow("long-path file") << QStringLiteral("\\\\?\\C:\\data\\capture.txt") << false;
    QTest::newRow("network share") << QStringLiteral("\\\\server\\share\\capture.txt") << false;
    QTest::newRow("plain file") << QStringLiteral("C:/Users/a/capture.txt") << false;
    QTest::newRow("Linux device") << QStringLiteral("/dev/null") << false;
}

void TestDevicePath::recognises()
{
    QFETCH(QString, path);
    QFETCH(bool, device);
    QCOMPARE(isWindowsDevicePath(path), device);
}

QTEST_APPLESS_MAIN(TestDevicePath)
#include "tst_devicepath.moc"
