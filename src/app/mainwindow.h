#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include "export/captureexport.h"
#include "serial/capturebelief.h"
#include "serial/capturefile.h"

#include <QFileDialog>
#include <QMainWindow>
#include <QPointer>
#include <QSerialPort>

class CaptureExporter;
class CaptureSaver;
class CaptureStatus;
class CaptureStore;
class Console;
class DeviceWatch;
class MainWindowForm;
class MarkerCommands;
class PlotDock;
class QLabel;
class QMessageBox;
class SettingsDialog;

// The one main window: owns the console, the settings dialog and the serial port, and wires them.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

protected:
    // Waits for a running save before the window goes.
    void closeEvent(QCloseEvent *event) override;

private slots:
    // The serial, capture and file slots are written in src/serial: serialconnection.cpp,
    // capturecontrol.cpp and filecommands.cpp.
    void openSerialPort();
    void closeSerialPort();
    void about();
    void writeData(const QByteArray &data);
    void readData();
    void handleError(QSerialPort::SerialPortError error);
    void deviceReturned();
    void on_actionOpen_triggered();
    void on_actionSave_triggered();
    // In src/export/exportcommands.cpp.
    void on_actionExport_triggered();
    void dataReceiveStart();

private:
    void setStatusText(const QString &text);
    void connectActions();
    void setConnected(bool connected);
    // The port is open again on the lost device: the capture goes on, the gap is recorded.
    void continueCapture();
    void followTypedCommands(const QByteArray &typed);
    void followStream(const QByteArray &delivered);
    void followConnection();
    void awaitAnswer();
    // Applies what the belief changed to the capture and its indicator.
    void followBelief(const CaptureBelief::Change &change);
    void showFileError(const QString &text, const QString &reason);
    // The name chosen in the window's file dialog for mode, under caption; empty when cancelled.
    QString askFileName(QFileDialog::AcceptMode mode, const QString &caption);
    void storageFailed(const QString &reason);
    void saveFinished(const QString &fileName, const CaptureFile::SaveOutcome &outcome);
    void offerLeftovers();
    void exportFinished(const QString &fileName, const CaptureExport::Outcome &outcome);

    MainWindowForm *form = nullptr;
    QLabel *statusLabel = nullptr;
    Console *console = nullptr;
    SettingsDialog *settingsDialog = nullptr;
    QSerialPort *serialPort = nullptr;
    // What was received since the capture was last started.
    CaptureStore *receivedChunks = nullptr;
    CaptureSaver *saver = nullptr;
    CaptureExporter *exporter = nullptr;
    // Beside the status text: the capture's size and state, and a running save's progress.
    CaptureStatus *captureStatus = nullptr;
    // What we believe the device does.
    CaptureBelief belief;
    // Below the console, hidden at start; reads the same bytes as the capture.
    PlotDock *plotDock = nullptr;
    // Waits for a lost device; the open port's status text, shown again once it is back.
    DeviceWatch *deviceWatch = nullptr;
    QString connectionText;
    // The box that tells of a lost device; it does not stop the waiting.
    QPointer<QMessageBox> lostBox;
    // Places markers in the capture and shows them in the status bar and the plot.
    MarkerCommands *markerCommands = nullptr;
    // Built at their first use and kept: building one takes longer than the line holds.
    QPointer<QFileDialog> saveDialog;
    QPointer<QFileDialog> openDialog;
    QPointer<QFileDialog> exportDialog;
};

#endif // MAINWINDOW_H
