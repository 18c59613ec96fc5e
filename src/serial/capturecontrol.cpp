// Starting and stopping the device's data stream, and following what the device does.

#include "app/capturestatus.h"
#include "app/mainwindow.h"
#include "serial/capturestore.h"
#include "settings/settingsdialog.h"

#include <QMessageBox>
#include <QSerialPort>
#include <QTimer>

namespace {

// Set while the window applies what a press changed: the press records itself.
bool pressing = false;

// The port and its parameters as a serial line is commonly named: "/dev/ttyUSB0 115200 8N1".
// Kept untranslated, like the columns of the files it goes into.
QString lineText(const QSerialPort &port, const QString &chosenName)
{
    // The name as chosen, with its folder: the port's own drops it.
    const QString name = chosenName.endsWith(port.portName()) ? chosenName : port.portName();
    const char parity[] = {'N', '?', 'E', 'O', 'S', 'M'};
    const int p = int(port.parity());
    const QString stop = port.stopBits() == QSerialPort::OneAndHalfStop
        ? QStringLiteral("1.5")
        : QString::number(int(port.stopBits()));
    return QStringLiteral("%1 %2 %3%4%5")
        .arg(name)
        .arg(port.baudRate(QSerialPort::Input))
        .arg(int(port.dataBits()))
        .arg(QLatin1Char(p >= 0 && p < 6 ? parity[p] : '?'))
        .arg(stop);
}

// Adds what the answer showed to the label of the latest Start.
void tellLatestStart(CaptureStore *store, const QString &answer)
{
    const QVector<CaptureEvent> events = store->events();
    for (int i = events.size() - 1; i >= 0; --i) {
        if (events.at(i).type == CaptureEvent::Type::Start) {
            store->relabel(events.at(i).id, events.at(i).label + QStringLiteral("; ") + answer);
            return;
        }
    }
}

// A silence the user was told of ends now, with the bytes just received or with a press: it
// lies just before them.
void noteSilenceEnd(const CaptureBelief &belief, CaptureStore *store, qint64 received)
{
    const qint64 silentMs = belief.capturing() ? belief.notedSilenceMs() : -1;
    if (silentMs < 0)
        return;
    const qint64 micros = silentMs * 1000;
    store->recordAt(CaptureEvent::Type::Silence, qMax<qint64>(0, store->size() - received),
                    qMax<qint64>(0, store->elapsedMicros() - micros), QString(), 0, micros);
}

} // namespace

void MainWindow::dataReceiveStart()
{
    // A command that cannot reach the device must not change what we believe of it,
    // nor throw away a capture kept for saving.
    if (!serialPort->isOpen())
        return;
    serialPort->write(&CaptureBelief::StartStopCommand, 1);
    noteSilenceEnd(belief, receivedChunks, 0);
    const CaptureBelief::Change change = belief.pressed();
    pressing = true;
    followBelief(change);
    pressing = false;
    // After the store began the new capture: a Start is its first event. A device that came
    // back idle is started again into the capture that was never stopped.
    const CaptureEvent::Type type = change.restarted ? CaptureEvent::Type::Restarted
        : change.beginStart                          ? CaptureEvent::Type::Start
                                                     : CaptureEvent::Type::Stop;
    receivedChunks->record(type, lineText(*serialPort, settingsDialog->currentSettings().portName));
}

void MainWindow::followTypedCommands(const QByteArray &typed)
{
    followBelief(belief.typed(typed));
}

void MainWindow::followStream(const QByteArray &delivered)
{
    if (delivered.isEmpty())
        return;
    noteSilenceEnd(belief, receivedChunks, delivered.size());
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
    if (change.confirmStart) {
        receivedChunks->confirmStart();
        tellLatestStart(receivedChunks, QStringLiteral("data followed: started"));
    }
    if (change.putBack) {
        receivedChunks->putBack();
        const bool stopped = change.state && !belief.capturing();
        tellLatestStart(receivedChunks,
                        stopped ? QStringLiteral("the stream ended: it was a stop")
                                : QStringLiteral("no data followed: not started"));
        receivedChunks->record(CaptureEvent::Type::PutBack,
                               stopped ? QStringLiteral("the Start stopped the device")
                                       : QStringLiteral("the Start brought no data"));
    }
    if (change.beginStart)
        receivedChunks->beginStart();
    // Not a press, nor the answer to one: the device was started or stopped by a typed command,
    // or found streaming.
    if (change.state && !pressing && !change.confirmStart && !change.putBack)
        receivedChunks->record(belief.capturing() ? CaptureEvent::Type::Start
                                                  : CaptureEvent::Type::Stop,
                               lineText(*serialPort, settingsDialog->currentSettings().portName)
                                   + (belief.capturing() ? QStringLiteral("; streaming")
                                                         : QStringLiteral("; stopped")));
    if (change.dueInMs >= 0)
        QTimer::singleShot(change.dueInMs, this, &MainWindow::awaitAnswer);
    if (change.any())
        captureStatus->refresh();
}

void MainWindow::storageFailed(const QString &reason)
{
    receivedChunks->record(CaptureEvent::Type::Memory, reason);
    captureStatus->refresh();
    QMessageBox::critical(this, tr("Error"),
                          tr("Could not keep the capture on disk") + '\n' + reason + '\n'
                              + tr("What arrives from now on is kept in memory. Save it soon."));
}
