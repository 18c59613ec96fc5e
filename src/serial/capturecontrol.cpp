// Starting and stopping the device's data stream, and showing what the capture holds.

#include "app/mainwindow.h"
#include "serial/capturestore.h"

#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QSerialPort>
#include <QTimer>

namespace {

const char StartStopCommand = 's';

QString sizeText(qint64 bytes)
{
    if (bytes < 1000)
        return MainWindow::tr("%1 B").arg(bytes);
    const QLocale locale;
    const char *const units[]
        = {QT_TRANSLATE_NOOP("MainWindow", "%1 kB"), QT_TRANSLATE_NOOP("MainWindow", "%1 MB"),
           QT_TRANSLATE_NOOP("MainWindow", "%1 GB")};
    double value = double(bytes) / 1000;
    int unit = 0;
    while (value >= 1000 && unit < 2) {
        value /= 1000;
        ++unit;
    }
    return MainWindow::tr(units[unit]).arg(locale.toString(value, 'f', 1));
}

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
    } else {
        serialPort->write(&StartStopCommand, 1);
        captureState = 0;
    }
    updateCaptureIndicator();
}

// The device takes a typed "s" as its command like any other, so our belief follows it; a
// start typed by hand appends to what is kept instead of emptying it.
void MainWindow::followTypedCommands(const QByteArray &typed)
{
    if (typed.count(StartStopCommand) % 2 == 0)
        return;
    captureState = captureState == 0 ? 1 : 0;
    updateCaptureIndicator();
}

void MainWindow::updateCaptureIndicator()
{
    indicatorTimer->stop();
    const qint64 bytes = receivedChunks->size();
    QString text;
    if (captureState != 0)
        text = tr("Capturing: %1").arg(sizeText(bytes));
    else if (bytes > 0)
        text = tr("Kept: %1").arg(sizeText(bytes));
    const qint64 inMemory = receivedChunks->sizeInMemory();
    if (inMemory > 0)
        text += tr(" (%1 in memory only)").arg(sizeText(inMemory));
    captureLabel->setText(text);
}

void MainWindow::storageFailed(const QString &reason)
{
    updateCaptureIndicator();
    QMessageBox::critical(this, tr("Error"),
                          tr("Could not keep the capture on disk") + '\n' + reason + '\n'
                              + tr("What arrives from now on is kept in memory. Save it soon."));
}
