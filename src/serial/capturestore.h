#ifndef CAPTURESTORE_H
#define CAPTURESTORE_H

#include <QStringList>

// Process-wide capture state, shared by the serial, capture and file slots of the main window.

// Text received since the capture was last started: one entry per delivery from the port
// (or per line of an opened file). Emptied only as a whole, when a capture starts.
extern QStringList receivedChunks;

// 1 once a port has been opened successfully; never cleared.
extern qint32 portOpened;

// 0 while the device is believed idle, 1 while it streams.
extern qint32 captureState;

#endif // CAPTURESTORE_H
