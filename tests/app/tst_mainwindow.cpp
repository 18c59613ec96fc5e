#include "app/mainwindow.h"
#include "console/console.h"
#include "modalanswerer.h"
#include "serial/capturestore.h"
#include "settings/settingsdialog.h"
#include "windowprobe.h"

#include <QAction>
#include <QDir>
#include <QDockWidget>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QToolBar>
#include <QtTest>

// The window as it is built: its actions, menus, shortcuts, status bar and boxes.
class TestMainWindow : public QObject, private testkit::WindowProbe
{
    Q_OBJECT

private slots:
    void init() { openWindow(); }
    void cleanup() { closeWindow(); }
    void initialState();
    void buildsWithoutWarnings();
    void shortcuts_data();
    void shortcuts();
    void menusAndToolbar();
    void configureShowsTheOneDialog();
    void clearLeavesStore();
    void aboutBox();
    void closingEndsProgramWithDialogOpen();
    void fileDialogsKeptAndShownAfresh();
};

namespace {

// What each file dialog shows as it opens: "title|selected filter|name typed".
class FileDialogShows : public QObject
{
public:
    FileDialogShows() { qApp->installEventFilter(this); }
    QStringList seen;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *dialog = qobject_cast<QFileDialog *>(watched);
        if (dialog && event->type() == QEvent::Show) {
            const auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            seen << dialog->windowTitle() + '|' + dialog->selectedNameFilter() + '|'
                    + (name ? name->text() : QStringLiteral("?"));
        }
        return false;
    }
};

} // namespace

void TestMainWindow::initialState()
{
    QVERIFY(!window->centralWidget()->isEnabled());
    for (const char *name : {"statusLabel", "captureLabel"}) {
        const QLabel *label = window->findChild<QLabel *>(QLatin1String(name));
        QVERIFY(label->text().isEmpty());
        QCOMPARE(label->textFormat(), Qt::PlainText);
    }
    QVERIFY(action("actionConnect")->isEnabled());
    QVERIFY(!action("actionDisconnect")->isEnabled());
    QVERIFY(action("actionConfigure")->isEnabled());
    QVERIFY(action("actionStart_Stop_2")->isEnabled());
    QVERIFY(action("actionSave")->isEnabled());
    QVERIFY(store()->isEmpty());
    QVERIFY(testkit::settingsDialog() && testkit::settingsDialog()->isHidden());
    // The plot is there, below the console, and hidden.
    QVERIFY(action("actionPlot")->isCheckable() && !action("actionPlot")->isChecked());
    auto *plot = qobject_cast<QDockWidget *>(widget("plotDock"));
    QVERIFY(plot && plot->isHidden());
    QCOMPARE(window->dockWidgetArea(plot), Qt::BottomDockWidgetArea);
}

void TestMainWindow::buildsWithoutWarnings()
{
    static QStringList messages;
    messages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext &, const QString &text) {
            if (type != QtDebugMsg)
                messages << text;
        });
    openWindow();
    qInstallMessageHandler(previous);
    QVERIFY2(messages.isEmpty(), qPrintable(messages.join('\n')));

    // Both file slots are joined to their actions by name; Open's is placed nowhere.
    ModalAnswerer answerer;
    action("actionSave")->trigger();
    action("actionOpen")->trigger();
    QCOMPARE(answerer.fileDialogs.size(), 2);
    QVERIFY(answerer.fileDialogs.at(0).startsWith("save file|"));
    QVERIFY(answerer.fileDialogs.at(1).startsWith("open file|"));
    QVERIFY(action("actionOpen")->associatedWidgets().isEmpty());
    QVERIFY(action("actionOpen")->shortcut().isEmpty());
}

void TestMainWindow::shortcuts_data()
{
    // clang-format off
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("name");

    QTest::newRow("connect") << "Ctrl+O" << "actionConnect";
    QTest::newRow("start/stop") << "Ctrl+S" << "actionStart_Stop_2";
    QTest::newRow("configure") << "Alt+C" << "actionConfigure";
    QTest::newRow("clear") << "Alt+L" << "actionClear";
    QTest::newRow("plot") << "Alt+P" << "actionPlot";
    QTest::newRow("about") << "Alt+A" << "actionAbout";
    QTest::newRow("quit") << "Ctrl+Q" << "actionQuit";
    QTest::newRow("marker") << "Ctrl+M" << "actionMarker";
    QTest::newRow("marker 1") << "Ctrl+1" << "actionMarker1";
    QTest::newRow("marker 9") << "Ctrl+9" << "actionMarker9";
    QTest::newRow("marker 5, keypad") << "Ctrl+Num+5" << "actionMarker5";
    // clang-format on
}

void TestMainWindow::shortcuts()
{
    QFETCH(QString, keys);
    QFETCH(QString, name);

    window->show();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    QAction *a = action(qPrintable(name));
    // Kept from running: the about box would wait for an answer, quit would close the window.
    a->disconnect();
    QSignalSpy spy(a, &QAction::triggered);
    QTest::keySequence(window.get(), QKeySequence(keys));
    QCOMPARE(spy.count(), 1);
}

void TestMainWindow::menusAndToolbar()
{
    QCOMPARE(window->windowTitle(), QStringLiteral("Tarvex Terminal"));
    QCOMPARE(window->windowIcon().availableSizes(), QList<QSize>{QSize(128, 128)});
    // The id of the desktop entry the package installs.
    QCOMPARE(QGuiApplication::desktopFileName(), QStringLiteral("io.github.tarvex.TarvexTerminal"));
    // Each menu and the toolbar as "title: entries", "-" for a separator.
    const auto entries = [](const QString &title, const QList<QAction *> &actions) {
        QStringList texts;
        for (const QAction *a : actions)
            texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
        return title + ": " + texts.join(", ");
    };
    QStringList seen;
    for (const QAction *m : window->menuBar()->actions())
        seen << entries(m->text(), m->menu()->actions());
    const QToolBar *bar = window->findChild<QToolBar *>();
    seen << entries("toolbar", bar->actions());
    for (const QAction *a : bar->actions())
        QVERIFY2(!a->icon().pixmap(24).isNull(), qPrintable(a->objectName()));
    QCOMPARE(seen,
             (QStringList{"file: Save, Export\u2026",
                          "Calls: C&onnect, &Disconnect, -, &Start/Stop, -, &Quit",
                          "Tools: &Configure, C&lear, Plot, -, &Marker\u2026, &Numbered marker",
                          "Help: &About, About Qt",
                          "toolbar: C&onnect, &Disconnect, &Configure, C&lear, &Start/Stop"}));
}

void TestMainWindow::configureShowsTheOneDialog()
{
    const int topLevels = QApplication::topLevelWidgets().size();
    action("actionConfigure")->trigger();
    SettingsDialog *dialog = testkit::settingsDialog();
    QVERIFY(dialog->isVisible());
    action("actionConfigure")->trigger();
    QCOMPARE(QApplication::topLevelWidgets().size(), topLevels);
    QCOMPARE(testkit::settingsDialog(), dialog);
}

void TestMainWindow::clearLeavesStore()
{
    console()->displayData("some text");
    store()->append("some text");
    action("actionClear")->trigger();
    QVERIFY(console()->toPlainText().isEmpty());
    QCOMPARE(capturedBytes(), QByteArray("some text"));
}

void TestMainWindow::aboutBox()
{
    ModalAnswerer answerer;
    action("actionAbout")->trigger();
    QCOMPARE(answerer.boxes.size(), 1);
    QVERIFY2(
        answerer.boxes.first().startsWith("About Tarvex Terminal: This <b>Tarvex Terminal</b>"),
        qPrintable(answerer.boxes.first()));
}

void TestMainWindow::closingEndsProgramWithDialogOpen()
{
    window->show();
    action("actionConfigure")->trigger();
    QVERIFY(testkit::settingsDialog()->isVisible());
    QTimer::singleShot(0, action("actionQuit"), &QAction::trigger);
    // Only a dialog left open would let the loop run into this.
    QTimer::singleShot(20000, [] { QCoreApplication::exit(1); });
    QCOMPARE(QApplication::exec(), 0);
}

void TestMainWindow::fileDialogsKeptAndShownAfresh()
{
    // Building a file dialog stalls the line for longer than it holds: one is built per use and
    // kept, and shows each time as a new one would.
    ModalAnswerer answerer;
    FileDialogShows shows;
    action("actionSave")->trigger();
    QList<QFileDialog *> kept = window->findChildren<QFileDialog *>();
    QCOMPARE(kept.size(), 1);
    // What a user left in it when cancelling.
    QFileDialog *save = kept.first();
    save->selectNameFilter(QStringLiteral("all (*.*)"));
    save->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText("old.txt");
    save->setDirectory(QDir::rootPath());
    action("actionSave")->trigger();
    action("actionOpen")->trigger();
    action("actionOpen")->trigger();
    QCOMPARE(window->findChildren<QFileDialog *>().size(), 2);
    QVERIFY(window->findChildren<QFileDialog *>().contains(save));

    const QString folder = QDir::currentPath();
    const QString filters = QStringLiteral("text file (*.txt);;all (*.*)");
    QCOMPARE(answerer.fileDialogs,
             QStringList(
                 {"save file|" + folder + '|' + filters, "save file|" + folder + '|' + filters,
                  "open file|" + folder + '|' + filters, "open file|" + folder + '|' + filters}));
    const QString fresh = QStringLiteral("|text file (*.txt)|");
    QCOMPARE(shows.seen,
             QStringList({"save file" + fresh, "save file" + fresh, "open file" + fresh,
                          "open file" + fresh}));
    QCOMPARE(save->acceptMode(), QFileDialog::AcceptSave);
    QVERIFY(save->testOption(QFileDialog::DontConfirmOverwrite) == false);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
