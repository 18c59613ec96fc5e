// Starting and stopping the device's data stream.

#include "app/mainwindow.h"
#include "serial/capturestore.h"

namespace {
const char StartStopCommand = 's';
}

void MainWindow::dataReceiveStart()
{
    // A command that cannot reach the device must not change what we believe of it,
    // nor throw away a capture kept for saving.
    if (portOpened == 0 || !serialPort->isOpen())
        return;

    if (captureState == 0) {
        receivedChunks.clear();
        serialPort->write(&StartStopCommand, 1);
        captureState = 1;
    } else {
        serialPort->write(&StartStopCommand, 1);
        captureState = 0;
    }
}
