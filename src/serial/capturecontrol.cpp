// Starting and stopping the device's data stream, and following what the device does.

#include "app/capturestatus.h"
#include "app/mainwindow.h"
#include "serial/capturestore.h"

#include <QMessageBox>
#include <QSerialPort>
#include <QTimer>

void MainWindow::dataReceiveStart()
{
    // A command that cannot reach the device must not change what we believe of it,
    // nor throw away a capture kept for saving.
    if (!serialPort->isOpen())
        return;
    serialPort->write(&CaptureBelief::StartStopCommand, 1);
    followBelief(belief.pressed());
}

void MainWindow::followTypedCommands(const QByteArray &typed)
{
    followBelief(belief.typed(typed));
}

void MainWindow::followStream(const QByteArray &delivered)
{
    if (!delivered.isEmpty())
        followBelief(belief.delivered(delivered.size()));
}

void MainWindow::awaitAnswer()
{
    followBelief(belief.due());
}

void MainWindow::followConnection()
{
    followBelief(
        belief.connected(serialPort->portName(), serialPort->baudRate(QSerialPort::Input)));
}

void MainWindow::followBelief(const CaptureBelief::Change &change)
{
    if (change.confirmStart)
        receivedChunks->confirmStart();
    if (change.putBack)
        receivedChunks->putBack();
    if (change.beginStart)
        receivedChunks->beginStart();
    if (change.restarted)
        receivedChunks->record(CaptureEvent::Type::Restarted);
    if (change.dueInMs >= 0)
        QTimer::singleShot(change.dueInMs, this, &MainWindow::awaitAnswer);
    if (change.any())
        captureStatus->refresh();
}

void MainWindow::storageFailed(const QString &reason)
{
    captureStatus->refresh();
    QMessageBox::critical(this, tr("Error"),
                          tr("Could not keep the capture on disk") + '\n' + reason + '\n'
                              + tr("What arrives from now on is kept in memory. Save it soon."));
}
