// Starting and stopping the device's data stream, and following what the device does.

#include "app/capturestatus.h"
#include "app/mainwindow.h"
#include "serial/captureflags.h"
#include "serial/capturestore.h"

#include <QMessageBox>
#include <QSerialPort>

namespace {

const char StartStopCommand = 's';

} // namespace

void MainWindow::dataReceiveStart()
{
    // A command that cannot reach the device must not change what we believe of it,
    // nor throw away a capture kept for saving.
    if (portOpened == 0 || !serialPort->isOpen())
        return;

    if (captureState == 0) {
        receivedChunks->clear();
        serialPort->write(&StartStopCommand, 1);
        captureState = 1;
        capturePort = serialPort->portName();
    } else {
        serialPort->write(&StartStopCommand, 1);
        captureState = 0;
    }
    streamWatch.restart();
    captureStatus->refresh();
}

// The device takes a typed "s" as its command like any other, so our belief follows it; a
// start typed by hand appends to what is kept instead of emptying it.
void MainWindow::followTypedCommands(const QByteArray &typed)
{
    // An answer to a key is not a stream.
    streamWatch.restart();
    if (typed.count(StartStopCommand) % 2 == 0)
        return;
    captureState = captureState == 0 ? 1 : 0;
    if (captureState != 0)
        capturePort = serialPort->portName();
    captureStatus->refresh();
}

// A device believed idle that streams all the same was started without us: by an earlier run of
// the program, or by a press that met a device that had lost its state. It is capturing, and
// nothing that arrived is thrown away.
void MainWindow::followStream(const QByteArray &delivered)
{
    if (captureState != 0 || delivered.isEmpty()
        || !streamWatch.delivered(serialPort->baudRate(QSerialPort::Input)))
        return;
    captureState = 1;
    capturePort = serialPort->portName();
    captureStatus->refresh();
}

// A capture runs on the line it was started on: a device on another port is not known to stream,
// and the next Start/Stop starts it.
void MainWindow::followConnection()
{
    if (captureState != 0 && serialPort->portName() != capturePort)
        captureState = 0;
    streamWatch.restart();
    captureStatus->refresh();
}

void MainWindow::storageFailed(const QString &reason)
{
    captureStatus->refresh();
    QMessageBox::critical(this, tr("Error"),
                          tr("Could not keep the capture on disk") + '\n' + reason + '\n'
                              + tr("What arrives from now on is kept in memory. Save it soon."));
}
