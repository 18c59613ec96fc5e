#include "app/mainwindow.h"
#include "console/console.h"
#include "serial/capturestore.h"
#include "settings/settingsdialog.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QToolBar>
#include <QtTest>

class TestMainWindow : public QObject
{
    Q_OBJECT

private:
    static QAction *action(MainWindow &w, const QString &name)
    {
        return w.findChild<QAction *>(name);
    }
    static QStringList texts(const QList<QAction *> &actions)
    {
        QStringList list;
        for (const QAction *a : actions)
            list << (a->isSeparator() ? QStringLiteral("-") : a->text());
        return list;
    }
    static SettingsDialog *settingsDialog()
    {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *dialog = qobject_cast<SettingsDialog *>(w))
                return dialog;
        return nullptr;
    }

private slots:
    void initialState();
    void actions_data();
    void actions();
    void menusAndToolbar();
    void configureShowsTheOneDialog();
    void clearLeavesStore();
    void aboutBox();
    void closingEndsProgramWithDialogOpen();
};

void TestMainWindow::initialState()
{
    receivedChunks << "left over";
    MainWindow w;
    QCOMPARE(w.windowTitle(), QStringLiteral("Tarvex Terminal"));
    QCOMPARE(w.size(), QSize(400, 300));
    auto *console = qobject_cast<Console *>(w.centralWidget());
    QVERIFY(console);
    QVERIFY(!console->isEnabled());
    QVERIFY(console->toPlainText().isEmpty());
    QVERIFY(w.findChild<QLabel *>(QStringLiteral("statusLabel"))->text().isEmpty());
    QCOMPARE(w.findChild<QLabel *>(QStringLiteral("statusLabel"))->textFormat(), Qt::PlainText);
    QVERIFY(receivedChunks.isEmpty());
    QVERIFY(settingsDialog() && settingsDialog()->isHidden());
}

void TestMainWindow::actions_data()
{
    // clang-format off
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("toolTip");
    QTest::addColumn<QString>("shortcut");
    QTest::addColumn<bool>("hasIcon");
    QTest::addColumn<bool>("enabled");

    // An action without a tooltip of its own shows its text without the mnemonic.
    QTest::newRow("about") << "actionAbout" << "&About" << "About program" << "Alt+A" << false << true;
    QTest::newRow("about qt") << "actionAboutQt" << "About Qt" << "About Qt" << "" << false << true;
    QTest::newRow("connect") << "actionConnect" << "C&onnect" << "Connect to serial port"
                             << "Ctrl+O" << true << true;
    QTest::newRow("disconnect") << "actionDisconnect" << "&Disconnect"
                                << "Disconnect from serial port" << "Ctrl+D" << true << false;
    QTest::newRow("configure") << "actionConfigure" << "&Configure" << "Configure serial port"
                               << "Alt+C" << true << true;
    QTest::newRow("clear") << "actionClear" << "C&lear" << "Clear data" << "Alt+L" << true << true;
    QTest::newRow("quit") << "actionQuit" << "&Quit" << "Quit" << "Ctrl+Q" << true << true;
    QTest::newRow("save") << "actionSave" << "Save" << "Save" << "" << false << true;
    QTest::newRow("start/stop") << "actionStart_Stop_2" << "&Start/Stop" << "Start/Stop"
                                << "Ctrl+S" << true << true;
    // clang-format on
}

void TestMainWindow::actions()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(QString, toolTip);
    QFETCH(QString, shortcut);
    QFETCH(bool, hasIcon);
    QFETCH(bool, enabled);

    MainWindow w;
    QAction *a = action(w, name);
    QVERIFY(a);
    QCOMPARE(a->text(), text);
    QCOMPARE(a->toolTip(), toolTip);
    QCOMPARE(a->shortcut(), QKeySequence(shortcut));
    QCOMPARE(!a->icon().isNull(), hasIcon);
    if (hasIcon)
        QVERIFY(!a->icon().pixmap(24).isNull());
    QCOMPARE(a->isEnabled(), enabled);
}

void TestMainWindow::menusAndToolbar()
{
    MainWindow w;
    QCOMPARE(texts(w.menuBar()->actions()), (QStringList{"file", "Calls", "Tools", "Help"}));
    const auto menu = [&w](const char *name) {
        return texts(w.findChild<QMenu *>(QLatin1String(name))->actions());
    };
    QCOMPARE(menu("menuCalls"),
             (QStringList{"C&onnect", "&Disconnect", "-", "&Start/Stop", "-", "&Quit"}));
    QCOMPARE(menu("menuTools"), (QStringList{"&Configure", "C&lear"}));
    QCOMPARE(menu("menuHelp"), (QStringList{"&About", "About Qt"}));
    QCOMPARE(menu("menufile"), (QStringList{"Save"}));
    QCOMPARE(texts(w.findChild<QToolBar *>()->actions()),
             (QStringList{"C&onnect", "&Disconnect", "&Configure", "C&lear", "&Start/Stop"}));
}

void TestMainWindow::configureShowsTheOneDialog()
{
    MainWindow w;
    const int topLevels = QApplication::topLevelWidgets().size();
    action(w, "actionConfigure")->trigger();
    SettingsDialog *dialog = settingsDialog();
    QVERIFY(dialog->isVisible());
    action(w, "actionConfigure")->trigger();
    QCOMPARE(QApplication::topLevelWidgets().size(), topLevels);
    QCOMPARE(settingsDialog(), dialog);
}

void TestMainWindow::clearLeavesStore()
{
    MainWindow w;
    auto *console = qobject_cast<Console *>(w.centralWidget());
    console->displayData("some text");
    receivedChunks << "some text";
    action(w, "actionClear")->trigger();
    QVERIFY(console->toPlainText().isEmpty());
    QCOMPARE(receivedChunks, QStringList{"some text"});
}

void TestMainWindow::aboutBox()
{
    MainWindow w;
    QString title, text;
    QTimer::singleShot(0, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        title = box->windowTitle();
        text = box->text();
        box->accept();
    });
    action(w, "actionAbout")->trigger();
    QCOMPARE(title, QStringLiteral("About Tarvex Terminal"));
    QVERIFY(text.contains("<b>Tarvex Terminal</b>"));
    QVERIFY(text.contains("<b>Raw Data of myoelectric potential</b>"));
}

void TestMainWindow::closingEndsProgramWithDialogOpen()
{
    MainWindow w;
    w.show();
    action(w, "actionConfigure")->trigger();
    QVERIFY(settingsDialog()->isVisible());
    QTimer::singleShot(0, action(w, "actionQuit"), &QAction::trigger);
    // Only a dialog left open would let the loop run into this.
    QTimer::singleShot(20000, [] { QCoreApplication::exit(1); });
    QCOMPARE(QApplication::exec(), 0);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
