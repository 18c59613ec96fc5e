// Starting and stopping the device's data stream, and following what the device does.

#include "app/capturestatus.h"
#include "app/mainwindow.h"
#include "serial/captureflags.h"
#include "serial/capturestore.h"

#include <QMessageBox>
#include <QSerialPort>
#include <QTimer>

namespace {

const char StartStopCommand = 's';

} // namespace

void MainWindow::dataReceiveStart()
{
    // A command that cannot reach the device must not change what we believe of it,
    // nor throw away a capture kept for saving.
    if (portOpened == 0 || !serialPort->isOpen())
        return;

    // A start still unconfirmed is taken for one: this press is believed its stop.
    receivedChunks->confirmStart();
    serialPort->write(&StartStopCommand, 1);
    if (captureState == 0) {
        // The previous capture goes only once the device's answer shows that this was a start.
        receivedChunks->beginStart();
        captureState = 1;
        capturePort = serialPort->portName();
    } else {
        captureState = 0;
    }
    streamWatch.pressed();
    QTimer::singleShot(StreamWatch::answerDueMs(serialPort->baudRate(QSerialPort::Input)) + 1, this,
                       &MainWindow::awaitAnswer);
    captureStatus->refresh();
}

// The device takes a typed "s" as its command like any other, so our belief follows it; a
// start typed by hand appends to what is kept instead of emptying it.
void MainWindow::followTypedCommands(const QByteArray &typed)
{
    // An answer to a key is not a stream, and blurs the answer to a press.
    streamWatch.sent();
    followAnswer();
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
    if (delivered.isEmpty())
        return;
    const bool streams
        = streamWatch.delivered(serialPort->baudRate(QSerialPort::Input), delivered.size());
    followAnswer();
    if (captureState != 0 || !streams)
        return;
    captureState = 1;
    capturePort = serialPort->portName();
    captureStatus->refresh();
}

// What the device did after a press tells which way the press went: a stream that goes on was
// started (or never stopped), one that ended was stopped. False while it cannot tell yet.
bool MainWindow::followAnswer()
{
    switch (streamWatch.answer(serialPort->baudRate(QSerialPort::Input))) {
    case StreamWatch::Answer::Waiting:
        return false;
    case StreamWatch::Answer::Streams:
        receivedChunks->confirmStart();
        if (captureState == 0 && serialPort->isOpen()) {
            captureState = 1;
            capturePort = serialPort->portName();
        }
        break;
    case StreamWatch::Answer::Stopped:
        // Believed a start, it stopped a stream we had not followed: nothing is lost.
        receivedChunks->putBack();
        captureState = 0;
        break;
    case StreamWatch::Answer::None:
        receivedChunks->confirmStart();
        break;
    }
    captureStatus->refresh();
    return true;
}

// Late data that still goes on delays the answer past its due time.
void MainWindow::awaitAnswer()
{
    if (!followAnswer())
        QTimer::singleShot(StreamWatch::LateRunMs, this, &MainWindow::awaitAnswer);
}

// A capture runs on the line it was started on: a device on another port is not known to stream,
// and the next Start/Stop starts it.
void MainWindow::followConnection()
{
    if (captureState != 0 && serialPort->portName() != capturePort)
        captureState = 0;
    streamWatch.newLine();
    followAnswer();
    captureStatus->refresh();
}

void MainWindow::storageFailed(const QString &reason)
{
    captureStatus->refresh();
    QMessageBox::critical(this, tr("Error"),
                          tr("Could not keep the capture on disk") + '\n' + reason + '\n'
                              + tr("What arrives from now on is kept in memory. Save it soon."));
}
