#include "app/capturestatus.h"

#include <QtTest>

// The capture's corner of the status bar.
class TestCaptureStatus : public QObject
{
    Q_OBJECT

private slots:
    void sizeTexts_data();
    void sizeTexts();
};

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
