#include "serial/driverbuffer.h"

#include <QtTest>

// How much the serial driver is asked to hold while the event loop is busy.
class TestDriverBuffer : public QObject
{
    Q_OBJECT

private slots:
    void readQueue_data();
    void readQueue();
};

void TestDriverBuffer::readQueue_data()
{
    QTest::addColumn<qint32>("baudRate");
    QTest::addColumn<qint64>("bytes");

    QTest::newRow("not set") << 0 << qint64(64 * 1024);
    QTest::newRow("negative") << -1 << qint64(64 * 1024);
    QTest::newRow("115200: the least") << 115200 << qint64(64 * 1024);
    QTest::newRow("921600: two seconds") << 921600 << qint64(184320);
    QTest::newRow("3000000: two seconds") << 3000000 << qint64(600000);
    QTest::newRow("30000000: the most") << 30000000 << qint64(4 * 1024 * 1024);
    QTest::newRow("largest rate") << std::numeric_limits<qint32>::max() << qint64(4 * 1024 * 1024);
}

void TestDriverBuffer::readQueue()
{
    QFETCH(qint32, baudRate);
    QFETCH(qint64, bytes);
    QCOMPARE(DriverBuffer::readQueueBytes(baudRate), bytes);
}

QTEST_APPLESS_MAIN(TestDriverBuffer)
#include "tst_driverbuffer.moc"
