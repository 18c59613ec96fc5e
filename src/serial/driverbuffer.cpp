#include "serial/driverbuffer.h"

#include <QSerialPort>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

namespace DriverBuffer {

qint64 readQueueBytes(qint32 baudRate)
{
    constexpr qint64 Least = qint64(64) * 1024;
    constexpr qint64 Most = qint64(4) * 1024 * 1024;
    return qBound(Least, qint64(qMax(baudRate, 0)) / 10 * 2, Most);
}

bool enlargeReadQueue(QSerialPort *port, qint32 baudRate)
{
#ifdef Q_OS_WIN
    // Qt's read buffer (setReadBufferSize) is its own, filled only when the event loop runs;
    // until then the bytes wait in the driver's queue, which Qt offers no way to size.
    // Typed commands are short: the transmit queue keeps a small size.
    return SetupComm(port->handle(), DWORD(readQueueBytes(baudRate)), 4096) != 0;
#else
    Q_UNUSED(port)
    Q_UNUSED(baudRate)
    return true;
#endif
}

} // namespace DriverBuffer
