#include "app/capturestatus.h"
#include "app/mainwindow.h"
#include "ptydevice.h"
#include "serial/captureflags.h"
#include "serial/capturestore.h"
#include "windowprobe.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <QSet>
#include <QTimer>
#include <QtTest>

using testkit::LineChoice;

// The far end of a pseudo-terminal that the test writes into.
using Line = testkit::PtyDevice;

// The capture indicator follows what arrives, a few times a second and no more.
class TestCaptureStatus : public QObject, private testkit::WindowProbe
{
    Q_OBJECT

private slots:
    void init() { openWindow(); }
    void cleanup() { closeWindow(); }
    void sizeFollowsDeliveries_data();
    void sizeFollowsDeliveries();
    void followsAFewTimesASecond();
    void sizeTexts_data();
    void sizeTexts();

private:
    // Sends a piece and waits until the window has read it.
    bool deliver(const Line &line, const QByteArray &piece);
};

bool TestCaptureStatus::deliver(const Line &line, const QByteArray &piece)
{
    const qint64 expected = store()->size() + piece.size();
    if (!line.send(piece))
        return false;
    QElapsedTimer waited;
    waited.start();
    while (store()->size() < expected && waited.elapsed() < 10000)
        QTest::qWait(1);
    return store()->size() == expected;
}

void TestCaptureStatus::sizeFollowsDeliveries_data()
{
    QTest::addColumn<bool>("stopFirst");
    // While capturing, the once-a-second silence tick would show the size as well: it is taken
    // out, so that only the deliveries move the indicator.
    QTest::newRow("capturing") << false;
    // After Stop nothing else ticks: the tail still arriving counts in what is kept.
    QTest::newRow("tail after Stop") << true;
}

void TestCaptureStatus::sizeFollowsDeliveries()
{
    QFETCH(bool, stopFirst);
    Line line;
    QVERIFY(!line.path.isEmpty());
    QVERIFY(connectTo(line.path, LineChoice{{}, "115200"}));
    startStop();
    QCOMPARE(indicator(), QStringLiteral("Capturing: 0 B"));
    for (int i = 0; i < 20; ++i)
        QVERIFY(deliver(line, QByteArray(50, 'a')));
    QTRY_COMPARE(indicator(), QStringLiteral("Capturing: 1.0 kB"));

    QString prefix = QStringLiteral("Capturing: ");
    if (stopFirst) {
        startStop();
        QCOMPARE(indicator(), QStringLiteral("Kept: 1.0 kB"));
        prefix = QStringLiteral("Kept: ");
    } else {
        window->findChild<QTimer *>(QStringLiteral("silenceTick"))->stop();
    }
    for (int i = 0; i < 6; ++i)
        QVERIFY(deliver(line, QByteArray(50, 'b')));
    QTRY_COMPARE(indicator(), prefix + QStringLiteral("1.3 kB"));
    if (stopFirst)
        QTRY_COMPARE_WITH_TIMEOUT(captureState, 0, 10000);
}

// Each new text lays out the window: a delivery a millisecond must not bring one each.
void TestCaptureStatus::followsAFewTimesASecond()
{
    Line line;
    QVERIFY(!line.path.isEmpty());
    // No press: no answer is awaited, which would hold back what a delivery tells.
    QVERIFY(connectTo(line.path, LineChoice{{}, "115200"}));
    QSet<QString> seen;
    QElapsedTimer elapsed;
    elapsed.start();
    // 100 bytes each: below 100 kB every delivery would change the text.
    for (int i = 0; i < 600; ++i) {
        QVERIFY(deliver(line, QByteArray(100, 'c')));
        seen.insert(indicator());
    }
    const qint64 ms = elapsed.elapsed();
    QTRY_VERIFY(indicator().endsWith(QStringLiteral(": 60.0 kB")));
    QVERIFY2(seen.size() <= 3 + ms / 200,
             qPrintable(QStringLiteral("%1 texts in %2 ms").arg(seen.size()).arg(ms)));
}

void TestCaptureStatus::sizeTexts_data()
{
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<QString>("shown");
    QTest::newRow("bytes") << qint64(999) << "999 B";
    QTest::newRow("rounds down in kB") << qint64(999949) << "999.9 kB";
    QTest::newRow("rounds up to MB") << qint64(999950) << "1.0 MB";
    QTest::newRow("rounds up to GB") << qint64(999950000) << "1.0 GB";
}

void TestCaptureStatus::sizeTexts()
{
    QFETCH(qint64, bytes);
    QFETCH(QString, shown);
    QCOMPARE(CaptureStatus::sizeText(bytes), shown);
}

QTEST_MAIN(TestCaptureStatus)
#include "tst_capturestatus.moc"
