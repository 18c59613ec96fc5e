#include "app/mainwindowform.h"

#include <QAction>
#include <QCoreApplication>
#include <QIcon>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QToolBar>
#include <QVBoxLayout>

namespace {

QAction *newAction(QMainWindow *window, const char *name, const char *iconPath = nullptr)
{
    auto *action = new QAction(window);
    action->setObjectName(QString::fromLatin1(name));
    if (iconPath) {
        QIcon icon;
        icon.addFile(QString::fromLatin1(iconPath), QSize(), QIcon::Normal, QIcon::Off);
        action->setIcon(icon);
    }
    return action;
}

QMenu *newMenu(QMenuBar *bar, const char *name)
{
    auto *menu = new QMenu(bar);
    menu->setObjectName(QString::fromLatin1(name));
    return menu;
}

} // namespace

void MainWindowForm::setupForm(QMainWindow *window)
{
    if (window->objectName().isEmpty())
        window->setObjectName(QStringLiteral("MainWindow"));
    window->resize(400, 300);
    window->setWindowIcon(QIcon(QStringLiteral(":/images/tarvex-terminal.png")));

    actionAbout = newAction(window, "actionAbout");
    actionAboutQt = newAction(window, "actionAboutQt");
    actionConnect = newAction(window, "actionConnect", ":/images/connect.png");
    actionDisconnect = newAction(window, "actionDisconnect", ":/images/disconnect.png");
    actionConfigure = newAction(window, "actionConfigure", ":/images/settings.png");
    actionClear = newAction(window, "actionClear", ":/images/clear.png");
    actionQuit = newAction(window, "actionQuit", ":/images/application-exit.png");
    actionSave = newAction(window, "actionSave");
    actionExport = newAction(window, "actionExport");
    // Only so that the by-name connection finds a sender for the window's Open slot.
    actionOpen = newAction(window, "actionOpen");
    actionStart_Stop_2 = newAction(window, "actionStart_Stop_2", ":/images/startstop_a.png");
    actionMarker = newAction(window, "actionMarker");
    for (int n = 1; n <= NumberedMarkers; ++n)
        actionMarkerNumber[n - 1]
            = newAction(window, QByteArray("actionMarker" + QByteArray::number(n)).constData());

    centralWidget = new QWidget(window);
    centralWidget->setObjectName(QStringLiteral("centralWidget"));
    verticalLayout = new QVBoxLayout(centralWidget);
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    verticalLayout->setSpacing(6);
    verticalLayout->setContentsMargins(11, 11, 11, 11);
    window->setCentralWidget(centralWidget);

    menuBar = new QMenuBar(window);
    menuBar->setObjectName(QStringLiteral("menuBar"));
    menuBar->setGeometry(QRect(0, 0, 400, 21));
    menuCalls = newMenu(menuBar, "menuCalls");
    menuTools = newMenu(menuBar, "menuTools");
    menuHelp = newMenu(menuBar, "menuHelp");
    menufile = newMenu(menuBar, "menufile");
    menuMarkers = newMenu(menuBar, "menuMarkers");
    window->setMenuBar(menuBar);

    mainToolBar = new QToolBar(window);
    mainToolBar->setObjectName(QStringLiteral("mainToolBar"));
    window->addToolBar(Qt::TopToolBarArea, mainToolBar);

    statusBar = new QStatusBar(window);
    statusBar->setObjectName(QStringLiteral("statusBar"));
    window->setStatusBar(statusBar);

    menuBar->addAction(menufile->menuAction());
    menuBar->addAction(menuCalls->menuAction());
    menuBar->addAction(menuTools->menuAction());
    menuBar->addAction(menuHelp->menuAction());

    menuCalls->addAction(actionConnect);
    menuCalls->addAction(actionDisconnect);
    menuCalls->addSeparator();
    menuCalls->addAction(actionStart_Stop_2);
    menuCalls->addSeparator();
    menuCalls->addAction(actionQuit);
    menuTools->addAction(actionConfigure);
    menuTools->addAction(actionClear);
    markerSeparator = menuTools->addSeparator();
    menuTools->addAction(actionMarker);
    menuTools->addMenu(menuMarkers);
    for (QAction *action : actionMarkerNumber)
        menuMarkers->addAction(action);
    // Also the window's own: their keys must work wherever the window's focus is.
    window->addAction(actionMarker);
    for (QAction *action : actionMarkerNumber)
        window->addAction(action);
    menuHelp->addAction(actionAbout);
    menuHelp->addAction(actionAboutQt);
    menufile->addAction(actionSave);
    menufile->addAction(actionExport);

    mainToolBar->addAction(actionConnect);
    mainToolBar->addAction(actionDisconnect);
    mainToolBar->addAction(actionConfigure);
    mainToolBar->addAction(actionClear);
    mainToolBar->addAction(actionStart_Stop_2);

    retranslateForm(window);
    QMetaObject::connectSlotsByName(window);
}

void MainWindowForm::retranslateForm(QMainWindow *window)
{
    window->setWindowTitle(QCoreApplication::translate("MainWindow", "Tarvex Terminal"));
    actionAbout->setText(QCoreApplication::translate("MainWindow", "&About"));
    actionAbout->setToolTip(QCoreApplication::translate("MainWindow", "About program"));
    actionAbout->setShortcut(QKeySequence(QCoreApplication::translate("MainWindow", "Alt+A")));
    actionAboutQt->setText(QCoreApplication::translate("MainWindow", "About Qt"));
    actionConnect->setText(QCoreApplication::translate("MainWindow", "C&onnect"));
    actionConnect->setToolTip(QCoreApplication::translate("MainWindow", "Connect to serial port"));
    actionConnect->setShortcut(QKeySequence(QCoreApplication::translate("MainWindow", "Ctrl+O")));
    actionDisconnect->setText(QCoreApplication::translate("MainWindow", "&Disconnect"));
    actionDisconnect->setToolTip(
        QCoreApplication::translate("MainWindow", "Disconnect from serial port"));
    actionDisconnect->setShortcut(
        QKeySequence(QCoreApplication::translate("MainWindow", "Ctrl+D")));
    actionConfigure->setText(QCoreApplication::translate("MainWindow", "&Configure"));
    actionConfigure->setToolTip(QCoreApplication::translate("MainWindow", "Configure serial port"));
    actionConfigure->setShortcut(QKeySequence(QCoreApplication::translate("MainWindow", "Alt+C")));
    actionClear->setText(QCoreApplication::translate("MainWindow", "C&lear"));
    actionClear->setToolTip(QCoreApplication::translate("MainWindow", "Clear data"));
    actionClear->setShortcut(QKeySequence(QCoreApplication::translate("MainWindow", "Alt+L")));
    actionQuit->setText(QCoreApplication::translate("MainWindow", "&Quit"));
    actionQuit->setShortcut(QKeySequence(QCoreApplication::translate("MainWindow", "Ctrl+Q")));
    actionSave->setText(QCoreApplication::translate("MainWindow", "Save"));
    actionExport->setText(QCoreApplication::translate("MainWindow", "Export…"));
    actionStart_Stop_2->setText(QCoreApplication::translate("MainWindow", "&Start/Stop"));
    actionStart_Stop_2->setShortcut(
        QKeySequence(QCoreApplication::translate("MainWindow", "Ctrl+S")));
    actionMarker->setText(tr("&Marker\u2026"));
    actionMarker->setToolTip(tr("Place a marker now, then type its label"));
    actionMarker->setShortcut(QKeySequence(tr("Ctrl+M")));
    for (int n = 1; n <= NumberedMarkers; ++n) {
        QAction *action = actionMarkerNumber[n - 1];
        action->setText(tr("Marker &%1").arg(n));
        action->setToolTip(tr("Place marker %1 now").arg(n));
        // The digits of the keypad too.
        action->setShortcuts(
            {QKeySequence(tr("Ctrl+%1").arg(n)),
             QKeySequence(int(Qt::CTRL) | int(Qt::KeypadModifier) | int(Qt::Key_0 + n))});
    }
    menuMarkers->setTitle(tr("&Numbered marker"));
    menuCalls->setTitle(QCoreApplication::translate("MainWindow", "Calls"));
    menuTools->setTitle(QCoreApplication::translate("MainWindow", "Tools"));
    menuHelp->setTitle(QCoreApplication::translate("MainWindow", "Help"));
    menufile->setTitle(QCoreApplication::translate("MainWindow", "file"));
}
