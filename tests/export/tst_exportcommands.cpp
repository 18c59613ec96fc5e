#include "app/mainwindow.h"
#include "modalanswerer.h"
#include "serial/capturestore.h"
#include "windowprobe.h"

#include <QAction>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

// File → Export… in the window: the dialog, the typed rate, the report, progress and Cancel.
class TestExportCommands : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void exportsByName_data();
    void exportsByName();
    void cancelLeavesNoFile();

private:
    // Types the rate into the export dialog, building it first with a cancelled export.
    void typeRate(const QString &rate);
    void fill(int lines);

    testkit::WindowProbe probe;
    std::unique_ptr<ModalAnswerer> answerer;
    QTemporaryDir dir;
};

void TestExportCommands::init()
{
    probe.openWindow();
    probe.window->show();
    answerer = std::make_unique<ModalAnswerer>();
}

void TestExportCommands::cleanup()
{
    probe.closeWindow();
    answerer.reset();
}

void TestExportCommands::typeRate(const QString &rate)
{
    answerer->fileName = QString();
    probe.action("actionExport")->trigger();
    auto *edit = probe.window->findChild<QLineEdit *>(QStringLiteral("exportRate"));
    QVERIFY(edit);
    edit->setText(rate);
}

void TestExportCommands::fill(int lines)
{
    QByteArray block;
    for (int i = 0; i < lines; ++i) {
        block += QByteArray::number(i % 1000) + ' ' + QByteArray::number(-i % 500) + "\r\n";
        if (block.size() >= (1 << 20)) {
            probe.store()->append(block);
            block.clear();
        }
    }
    probe.store()->append(block);
}

void TestExportCommands::exportsByName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("rate");
    QTest::addColumn<QByteArray>("begins"); // the file's first bytes
    QTest::addColumn<QString>("said"); // in the status bar, or the box
    QTest::newRow("csv") << "out.csv"
                         << "500" << QByteArray("time_s,ch1,ch2,marker\r\n")
                         << "Exported out.csv: 3,000 samples, 2 channels, 0 lines skipped, "
                            "500.000 samples/s (as typed)";
    QTest::newRow("edf") << "out.edf"
                         << "500" << QByteArray("0       ") << "500.000 samples/s";
    QTest::newRow("bdf") << "out.bdf"
                         << "500"
                         << QByteArray("\xff"
                                       "BIOSEMI")
                         << "500.000";
    // Appended in a moment, the capture's times give no rate: the user is asked for one.
    QTest::newRow("no rate") << "out.csv"
                             << "" << QByteArray()
                             << "Error: Could not export\nThe capture's time record gives no "
                                "sample rate; type the device's rate.";
}

void TestExportCommands::exportsByName()
{
    QFETCH(QString, name);
    QFETCH(QString, rate);
    QFETCH(QByteArray, begins);
    QFETCH(QString, said);
    QLocale::setDefault(QLocale(QLocale::English));
    const QList<QAction *> file
        = probe.window->findChild<QMenu *>(QStringLiteral("menufile"))->actions();
    QCOMPARE(file.indexOf(probe.action("actionExport")),
             file.indexOf(probe.action("actionSave")) + 1);

    fill(3000);
    typeRate(rate);
    const QString path = dir.filePath(name);
    QFile::remove(path);
    answerer->fileName = path;
    probe.action("actionExport")->trigger();
    QVERIFY(answerer->fileDialogs.last().endsWith("CSV (*.csv);;EDF+ (*.edf);;BDF+ (*.bdf)"));
    if (begins.isEmpty()) {
        QTRY_COMPARE_WITH_TIMEOUT(answerer->boxes.value(0), said, 10000);
        QVERIFY(!QFile::exists(path));
        return;
    }
    QTRY_VERIFY_WITH_TIMEOUT(probe.status().startsWith("Exported"), 10000);
    QVERIFY2(probe.status().contains(said), qPrintable(probe.status()));
    QFile out(path);
    QVERIFY(out.open(QIODevice::ReadOnly));
    QCOMPARE(out.read(begins.size()), begins);
}

void TestExportCommands::cancelLeavesNoFile()
{
    // Long enough to show its progress, from half a second on.
    fill(12000000);
    typeRate(QStringLiteral("1000"));
    const QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("cancelled.csv"));
    answerer->fileName = path;
    probe.action("actionExport")->trigger();
    auto *progress = probe.window->findChild<QProgressBar *>(QStringLiteral("exportProgress"));
    auto *cancel = probe.window->findChild<QToolButton *>(QStringLiteral("cancelExportButton"));
    QVERIFY(progress && cancel);
    QTRY_VERIFY_WITH_TIMEOUT(progress->isVisible() && cancel->isVisible(), 10000);
    cancel->click();
    QTRY_COMPARE_WITH_TIMEOUT(probe.status(), QStringLiteral("Export cancelled"), 10000);
    QVERIFY(!progress->isVisible());
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files), QStringList());
}

QTEST_MAIN(TestExportCommands)
#include "tst_exportcommands.moc"
