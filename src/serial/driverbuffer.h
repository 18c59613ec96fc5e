#ifndef DRIVERBUFFER_H
#define DRIVERBUFFER_H

#include <QtGlobal>

class QSerialPort;

// The serial driver's own receive queue, which holds what arrives while the event loop is busy.
namespace DriverBuffer {

// The queue asked for at a baud rate: two seconds of data at ten bits a byte, at least 64 KiB
// and at most 4 MiB.
qint64 readQueueBytes(qint32 baudRate);

// Asks the driver of an open port for that queue, on Windows, where the driver's default can
// hold only a few milliseconds at high rates; elsewhere the system's own buffer is large enough
// and nothing is done. Returns false if the driver refused.
bool enlargeReadQueue(QSerialPort *port, qint32 baudRate);

} // namespace DriverBuffer

#endif // DRIVERBUFFER_H
