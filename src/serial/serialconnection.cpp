// Opening and closing the port, its errors, and moving bytes between port and console.

#include "app/mainwindow.h"
#include "app/mainwindowform.h"
#include "console/console.h"
#include "console/utf8decoder.h"
#include "serial/capturestore.h"
#include "settings/settingsdialog.h"

#include <QAction>
#include <QLabel>
#include <QMessageBox>

void MainWindow::openSerialPort()
{
    const PortSettings p = settingsDialog->currentSettings();
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

    // Whatever was left half-decoded belongs to an earlier line.
    receiveDecoder = newUtf8StreamDecoder();
    console->resetDecoder();
    console->setEnabled(true);
    console->setLocalEcho(p.localEcho);
    form->actionConnect->setEnabled(false);
    form->actionDisconnect->setEnabled(true);
    form->actionConfigure->setEnabled(false);
    // One multi-argument arg() so that a "%2" in a typed port name is not substituted.
    setStatusText(tr("Connected to %1 : %2, %3, %4, %5, %6")
                      .arg(p.portName, p.baudRateText, p.dataBitsText, p.parityText, p.stopBitsText,
                           p.flowControlText));
    portOpened = 1;
}

void MainWindow::closeSerialPort()
{
    if (serialPort->isOpen())
        serialPort->close();
    console->setEnabled(false);
    form->actionConnect->setEnabled(true);
    form->actionDisconnect->setEnabled(false);
    form->actionConfigure->setEnabled(true);
    setStatusText(tr("Disconnected"));
    // The capture is kept: it may not have been saved yet.
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
    const QString message = serialPort->errorString();
    // Closed before the box opens, so that its event loop cannot spin on the dead line.
    serialPort->close();
    QMessageBox::critical(this, tr("Critical Error"), message);
    closeSerialPort();
}

void MainWindow::writeData(const QByteArray &data)
{
    if (serialPort->isOpen())
        serialPort->write(data);
}

void MainWindow::readData()
{
    const QByteArray data = serialPort->readAll();
    console->displayData(data);
    receivedChunks.append(receiveDecoder->toUnicode(data));
}
