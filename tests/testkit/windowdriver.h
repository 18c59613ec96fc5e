#ifndef WINDOWDRIVER_H
#define WINDOWDRIVER_H

#include <QSerialPort>
#include <QString>

class QAction;
class QWidget;
class SettingsDialog;

// Drives the program's windows through their widgets, as a user would; shared by the tests
// and the benchmarks.
namespace testkit {

// What to choose in the settings dialog.
struct LineChoice
{
    QString port; // typed under "Custom"
    QString baud = QStringLiteral("9600"); // a listed rate, or the text typed under "Custom"
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
    QSerialPort::FlowControl flow = QSerialPort::NoFlowControl;
    bool echo = false;
};

// The settings dialog of the main window (there is one); null if there is none.
SettingsDialog *settingsDialog();

// Makes the choices in the settings dialog and presses Apply.
void applySettings(const LineChoice &line);

// The window's action of that object name; null if there is none.
QAction *action(const QWidget *window, const char *name);

} // namespace testkit

#endif // WINDOWDRIVER_H
