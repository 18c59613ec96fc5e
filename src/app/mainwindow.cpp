#include "app/mainwindow.h"

#include "app/capturestatus.h"
#include "app/consolecontrol.h"
#include "app/mainwindowform.h"
#include "app/markercommands.h"
#include "app/unixsignals.h"
#include "console/console.h"
#include "export/captureexporter.h"
#include "plot/plotdock.h"
#include "serial/capturesaver.h"
#include "serial/capturestore.h"
#include "serial/devicewatch.h"
#include "settings/settingsdialog.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QStatusBar>
#include <QTimer>

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , form(new MainWindowForm)
    , statusLabel(new QLabel)
    , console(new Console)
    , settingsDialog(new SettingsDialog)
    , serialPort(new QSerialPort(this))
    , receivedChunks(new CaptureStore(CaptureStore::defaultFolder(), this))
    , saver(new CaptureSaver(this))
    , exporter(new CaptureExporter(this))
    , captureStatus(new CaptureStatus(receivedChunks, saver))
    , plotDock(new PlotDock(this))
    , deviceWatch(new DeviceWatch(this))
{
    // Before the window is shown: desktops match its id to the desktop entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(TARVEX_APP_ID));
    form->setupForm(this);
    setCentralWidget(console);
    // setCentralWidget() deleted the form's placeholder and its layout.
    form->centralWidget = nullptr;
    form->verticalLayout = nullptr;
    addDockWidget(Qt::BottomDockWidgetArea, plotDock);
    plotDock->hide();
    form->menuTools->insertAction(form->markerSeparator, plotDock->toggleViewAction());

    setConnected(false);
    form->actionQuit->setEnabled(true);
    form->actionStart_Stop_2->setEnabled(true);

    // The port name typed by the user is shown here: never read it as markup.
    statusLabel->setObjectName(QStringLiteral("statusLabel"));
    statusLabel->setTextFormat(Qt::PlainText);
    form->statusBar->addWidget(statusLabel);
    // The label of a marker is typed left of the indicator.
    markerCommands = new MarkerCommands(receivedChunks, plotDock, form, this);
    form->statusBar->addPermanentWidget(captureStatus);
    connect(captureStatus, &CaptureStatus::readyToClose, this, &MainWindow::close);
    captureStatus->setSilence([this] { return belief.notedSilenceMs(); });
    // Once the window is up, what earlier runs left behind is offered back.
    QTimer::singleShot(0, this, &MainWindow::offerLeftovers);
    connect(saver, &CaptureSaver::finished, this, &MainWindow::saveFinished);
    captureStatus->watchExports(exporter);
    connect(exporter, &CaptureExporter::finished, this, &MainWindow::exportFinished);
    connect(receivedChunks, &CaptureStore::storageFailed, this, &MainWindow::storageFailed);

    // The dialog has no parent; it must not keep the program running once the
    // main window has been closed.
    settingsDialog->setAttribute(Qt::WA_QuitOnClose, false);

    connectActions();

    connect(serialPort, &QSerialPort::errorOccurred, this, &MainWindow::handleError);
    connect(serialPort, &QSerialPort::readyRead, this, &MainWindow::readData);
    connect(deviceWatch, &DeviceWatch::returned, this, &MainWindow::deviceReturned);
    connect(console, &Console::getData, this, &MainWindow::writeData);
    // Ended by a signal, or by its console on Windows, the program would not close the port.
    quitOnTerminationSignals(this);
    quitOnConsoleControl(this);
}

MainWindow::~MainWindow()
{
    // Before the store: a save still reading it would otherwise read a removed file.
    delete saver;
    delete exporter;
    delete settingsDialog;
    delete form;
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // A half-written file is worse than a late exit; the cancel stays at hand.
    if (captureStatus->holdClose()) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

void MainWindow::about()
{
    QMessageBox::about(this, tr("About Tarvex Terminal"),
                       tr("This <b>Tarvex Terminal</b> application captures the <b>Raw Data of "
                          "myoelectric potential</b> acquired by <b>Tarvex</b> into a "
                          "host(Windows, Linux, Android, ios, ... etc) and saves it."));
}

void MainWindow::setStatusText(const QString &text)
{
    statusLabel->setText(text);
}

void MainWindow::setConnected(bool connected)
{
    console->setEnabled(connected);
    form->actionConnect->setEnabled(!connected);
    form->actionDisconnect->setEnabled(connected);
    form->actionConfigure->setEnabled(!connected);
}

void MainWindow::connectActions()
{
    connect(form->actionConnect, &QAction::triggered, this, &MainWindow::openSerialPort);
    connect(form->actionDisconnect, &QAction::triggered, this, &MainWindow::closeSerialPort);
    connect(form->actionQuit, &QAction::triggered, this, &MainWindow::close);
    connect(form->actionConfigure, &QAction::triggered, settingsDialog, &SettingsDialog::show);
    connect(form->actionClear, &QAction::triggered, console, &Console::clear);
    connect(form->actionClear, &QAction::triggered, plotDock, &PlotDock::clear);
    connect(form->actionAbout, &QAction::triggered, this, &MainWindow::about);
    connect(form->actionAboutQt, &QAction::triggered, qApp, &QApplication::aboutQt);
    connect(form->actionStart_Stop_2, &QAction::triggered, this, &MainWindow::dataReceiveStart);
}
