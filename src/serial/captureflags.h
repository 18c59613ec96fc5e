#ifndef CAPTUREFLAGS_H
#define CAPTUREFLAGS_H

#include <QtGlobal>

// What the program believes of the line and the device, process-wide. Written by CaptureBelief
// only, on the GUI thread.

// 1 once a port has been opened successfully; never cleared.
extern qint32 portOpened;

// 0 while the device is believed idle, 1 while it streams.
extern qint32 captureState;

#endif // CAPTUREFLAGS_H
