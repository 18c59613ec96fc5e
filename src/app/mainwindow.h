#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include <QMainWindow>
#include <QSerialPort>

#include <memory>

class Console;
class MainWindowForm;
class QLabel;
class QTextDecoder;
class SettingsDialog;

// The one main window: owns the console, the settings dialog and the serial port, and wires them.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

private slots:
    void openSerialPort();
    void closeSerialPort();
    void about();
    void writeData(const QByteArray &data);
    void readData();
    void handleError(QSerialPort::SerialPortError error);
    void on_actionOpen_triggered();
    void on_actionSave_triggered();
    void dataReceiveStart();

private:
    void setStatusText(const QString &text);
    void connectActions();

    MainWindowForm *form = nullptr;
    QLabel *statusLabel = nullptr;
    Console *console = nullptr;
    SettingsDialog *settingsDialog = nullptr;
    QSerialPort *serialPort = nullptr;
    // Carries a UTF-8 character split between two deliveries over to the next one.
    std::unique_ptr<QTextDecoder> receiveDecoder;
};

#endif // MAINWINDOW_H
