#ifndef DEVICEPATH_H
#define DEVICEPATH_H

#include <QCoreApplication>
#include <QString>

// Whether Windows opens a path as a device or a pipe rather than as a file: a name in the
// \\.\ namespace (\\.\COM3, \\.\pipe\name) or a reserved device name such as NUL or COM3 in any
// folder, with or without an extension. Pure text, so that it answers the same on any system.
bool isWindowsDevicePath(const QString &path);

// What can be told of a serial port's name before it is opened.
class SerialPortName
{
    Q_DECLARE_TR_FUNCTIONS(SerialPortName)

public:
    // The longest name that can be opened: Qt Serial Port locks a port through a file named
    // "LCK.." and the path (less "/dev/", with "_" for "/"), and no file name may be longer
    // than 255 bytes.
    static constexpr int MaxBytes = 250;

    // Why a port of this name cannot be the serial line to a device, or an empty text if it may
    // be one: a name too long to open, or the system's pseudo-terminal multiplexer, which opens
    // as a new terminal with nothing at its far end. A missing or busy port is for the open to
    // tell.
    static QString problem(const QString &portName);
};

#endif // DEVICEPATH_H
