// Opening and closing the port, its errors, and moving bytes between port and console.

#include "app/capturestatus.h"
#include "app/mainwindow.h"
#include "app/mainwindowform.h"
#include "console/console.h"
#include "plot/plotdock.h"
#include "serial/capturestore.h"
#include "serial/devicewatch.h"
#include "serial/driverbuffer.h"
#include "serial/portcheck.h"
#include "settings/settingsdialog.h"

#include <QAction>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>

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

// How long "Reconnected after ..." stays before the connection's own text.
constexpr int ReconnectedNoteMs = 4000;

} // namespace

void MainWindow::openSerialPort()
{
    const PortSettings p = settingsDialog->currentSettings();
    // While a lost device is waited for, a failed Connect leaves the waiting as it was.
    const auto failed = [this] {
        // The device may have come back while the box was open.
        if (serialPort->isOpen())
            return;
        setStatusText(deviceWatch->waiting() ? deviceWatch->waitingText() : tr("Open error"));
    };
    // Said plainly before the port is tried: the system's own words for these mislead.
    if (const QString problem = PortCheck::problem(p); !problem.isEmpty()) {
        QMessageBox::critical(this, tr("Error"), problem);
        failed();
        return;
    }
    // Connect tries at once for the lost device; a different device there is a new connection.
    const bool returning
        = deviceWatch->waiting() && p.portName == deviceWatch->path() && deviceWatch->present();
    // Before the port opens, so that no data waits while the system lists its ports.
    const DeviceIdentity identity
        = returning ? DeviceIdentity() : deviceWatch->identityAt(p.portName);
    serialPort->setPortName(p.portName);
    serialPort->setBaudRate(p.baudRate, QSerialPort::AllDirections);
    serialPort->setDataBits(p.dataBits);
    serialPort->setParity(p.parity);
    serialPort->setStopBits(p.stopBits);
    serialPort->setFlowControl(p.flowControl);

    if (!serialPort->open(QIODevice::ReadWrite)) {
        QMessageBox::critical(this, tr("Error"), serialPort->errorString());
        failed();
        return;
    }
    // A driver that refuses keeps its default queue, and the port works as before.
    DriverBuffer::enlargeReadQueue(serialPort, p.baudRate);

    // A character the last connection cut off is not finished by this one.
    console->resetDecoder();
    setConnected(true);
    console->setLocalEcho(p.localEcho);
    // One multi-argument arg() so that a "%2" in a typed port name is not substituted.
    connectionText = tr("Connected to %1 : %2, %3, %4, %5, %6")
                         .arg(p.portName, p.baudRateText, p.dataBitsText, p.parityText,
                              p.stopBitsText, p.flowControlText);
    if (returning) {
        continueCapture();
        return;
    }
    deviceWatch->remember(p.portName, identity);
    setStatusText(connectionText);
    followConnection();
}

void MainWindow::closeSerialPort()
{
    // A Disconnect by the user ends the waiting for a lost device, for good.
    deviceWatch->stop();
    if (serialPort->isOpen())
        serialPort->close();
    setConnected(false);
    belief.disconnected();
    setStatusText(tr("Disconnected"));
    // The capture is kept: it may not have been saved yet.
    captureStatus->refresh();
}

// The watch looks from the event loop, never from inside the port's own signals: the read that
// failed is still being handled there.
void MainWindow::deviceReturned()
{
    if (serialPort->isOpen())
        return;
    // The port keeps its parameters while closed: it opens as it was.
    if (!serialPort->open(QIODevice::ReadWrite))
        return; // not ready yet (its permissions, a prober holding it): the next look tries again
    DriverBuffer::enlargeReadQueue(serialPort, serialPort->baudRate(QSerialPort::Input));
    console->resetDecoder();
    setConnected(true);
    continueCapture();
}

void MainWindow::continueCapture()
{
    const qint64 gapMicros = deviceWatch->gapMicros();
    deviceWatch->stop();
    receivedChunks->record(CaptureEvent::Type::Reconnected, serialPort->portName(), 0, gapMicros);
    followBelief(belief.returned(serialPort->baudRate(QSerialPort::Input)));
    const QString note = DeviceWatch::reconnectedText(gapMicros);
    setStatusText(note);
    QTimer::singleShot(ReconnectedNoteMs, this, [this, note] {
        if (statusLabel->text() == note)
            setStatusText(connectionText);
    });
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
    // After the belief settled a pending start: the event belongs to the capture that goes on.
    followBelief(belief.lost());
    receivedChunks->record(CaptureEvent::Type::Lost, serialPort->portName());
    plotDock->breakLine();
    serialPort->close();
    setConnected(false);
    deviceWatch->start();
    // Disconnect ends the waiting.
    form->actionDisconnect->setEnabled(true);
    setStatusText(deviceWatch->waitingText());
    captureStatus->refresh();
    // Not a box of its own event loop: the device may come back while it is shown, and the
    // port must not be opened again from inside its own error signal. A loss while the box is
    // still up says so in the same box.
    const QString text = lostDeviceText(error, systemText);
    if (lostBox) {
        lostBox->setText(text);
        return;
    }
    lostBox
        = new QMessageBox(QMessageBox::Critical, tr("Critical Error"), text, QMessageBox::Ok, this);
    lostBox->setAttribute(Qt::WA_DeleteOnClose);
    lostBox->open();
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
