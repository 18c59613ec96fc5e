// Opening and closing the port, its errors, and moving bytes between port and console.

#include "app/capturestatus.h"
#include "app/mainwindow.h"
#include "app/mainwindowform.h"
#include "console/console.h"
#include "plot/plotdock.h"
#include "serial/capturestore.h"
#include "serial/driverbuffer.h"
#include "serial/portcheck.h"
#include "settings/settingsdialog.h"

#include <QAction>
#include <QMessageBox>

#include <cerrno>

namespace {

QString lostDeviceText(QSerialPort::SerialPortError error, const QString &systemText)
{
    const QString text = MainWindow::tr("The device stopped responding or was unplugged.");
    // A read that found the line hung up (ReadError) leaves whatever error the system noted
    // last, which says nothing about the loss; so does "try again".
    if (error != QSerialPort::ResourceError || systemText.isEmpty()
        || systemText == qt_error_string(EAGAIN) || systemText == QLatin1String("Unknown error"))
        return text;
    return text + '\n' + systemText;
}

} // namespace

void MainWindow::openSerialPort()
{
    const PortSettings p = settingsDialog->currentSettings();
    // Said plainly before the port is tried: the system's own words for these mislead.
    if (const QString problem = PortCheck::problem(p); !problem.isEmpty()) {
        QMessageBox::critical(this, tr("Error"), problem);
        setStatusText(tr("Open error"));
        return;
    }
    serialPort->setPortName(p.portName);
    serialPort->setBaudRate(p.baudRate, QSerialPort::AllDirections);
    serialPort->setDataBits(p.dataBits);
    serialPort->setParity(p.parity);
    serialPort->setStopBits(p.stopBits);
    serialPort->setFlowControl(p.flowControl);

    if (!serialPort->open(QIODevice::ReadWrite)) {
        QMessageBox::critical(this, tr("Error"), serialPort->errorString());
        setStatusText(tr("Open error"));
        return;
    }
    // A driver that refuses keeps its default queue, and the port works as before.
    DriverBuffer::enlargeReadQueue(serialPort, p.baudRate);

    // A character the last connection cut off is not finished by this one.
    console->resetDecoder();
    setConnected(true);
    console->setLocalEcho(p.localEcho);
    // One multi-argument arg() so that a "%2" in a typed port name is not substituted.
    setStatusText(tr("Connected to %1 : %2, %3, %4, %5, %6")
                      .arg(p.portName, p.baudRateText, p.dataBitsText, p.parityText, p.stopBitsText,
                           p.flowControlText));
    followConnection();
}

void MainWindow::closeSerialPort()
{
    if (serialPort->isOpen())
        serialPort->close();
    setConnected(false);
    belief.disconnected();
    setStatusText(tr("Disconnected"));
    // The capture is kept: it may not have been saved yet.
    captureStatus->refresh();
}

void MainWindow::handleError(QSerialPort::SerialPortError error)
{
    // On Linux a hung-up line reports ReadError over and over instead of ResourceError;
    // both mean the device is gone. A closed port has nothing more to lose.
    const bool deviceLost = error == QSerialPort::ResourceError || error == QSerialPort::ReadError;
    if (!deviceLost || !serialPort->isOpen())
        return;

    if (serialPort->bytesAvailable() > 0)
        readData();
    const QString systemText = serialPort->errorString();
    followBelief(belief.lost());
    // Disconnected before the box opens, so that its event loop cannot spin on the dead line
    // and the window already says what happened.
    closeSerialPort();
    QMessageBox::critical(this, tr("Critical Error"), lostDeviceText(error, systemText));
}

void MainWindow::writeData(const QByteArray &data)
{
    if (!serialPort->isOpen())
        return;
    serialPort->write(data);
    followTypedCommands(data);
}

void MainWindow::readData()
{
    // What the port has buffered, in one allocation of its size: readAll() on a sequential
    // device resizes its array three times a call, more than half of what a short delivery
    // costs the window.
    const QByteArray data = serialPort->read(serialPort->bytesAvailable());
    console->displayData(data);
    receivedChunks->append(data);
    followStream(data);
    plotDock->append(data);
    captureStatus->dataArrived();
}
