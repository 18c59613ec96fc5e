// Starting and stopping the device's data stream, and showing what the capture holds.

#include "app/mainwindow.h"
#include "serial/capturestore.h"

#include <QLabel>
#include <QLocale>
#include <QSerialPort>
#include <QTimer>

namespace {

const char StartStopCommand = 's';

} // namespace

QString MainWindow::sizeText(qint64 bytes)
{
    if (bytes < 1000)
        return tr("%1 B").arg(bytes);
    const QLocale locale;
    const char *const units[]
        = {QT_TRANSLATE_NOOP("MainWindow", "%1 kB"), QT_TRANSLATE_NOOP("MainWindow", "%1 MB"),
           QT_TRANSLATE_NOOP("MainWindow", "%1 GB")};
    // Counted in tenths of the unit, rounded as shown, and the unit picked for the rounded value:
    // 999,950 bytes read "1.0 MB", not "1,000.0 kB".
    qint64 perUnit = 1000;
    int unit = 0;
    const auto tenths = [&] { return (bytes * 10 + perUnit / 2) / perUnit; };
    while (tenths() >= 10000 && unit < 2) {
        perUnit *= 1000;
        ++unit;
    }
    return tr(units[unit]).arg(locale.toString(double(tenths()) / 10, 'f', 1));
}

void MainWindow::dataReceiveStart()
{
    // A command that cannot reach the device must not change what we believe of it,
    // nor throw away a capture kept for saving.
    if (portOpened == 0 || !serialPort->isOpen())
        return;

    if (captureState == 0) {
        receivedChunks.clear();
        receiveDecoder.reset();
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
    const qint64 bytes = storeSize.update(receivedChunks) + receiveDecoder.pendingText().size();
    if (captureState != 0)
        captureLabel->setText(tr("Capturing: %1").arg(sizeText(bytes)));
    else if (bytes > 0)
        captureLabel->setText(tr("Kept: %1").arg(sizeText(bytes)));
    else
        captureLabel->clear();
}
