#ifndef DEVICEPATH_H
#define DEVICEPATH_H

#include <QString>

// Whether Windows opens a path as a device or a pipe rather than as a file: a name in the
// \\.\ namespace (\\.\COM3, \\.\pipe\name) or a reserved device name such as NUL or COM3 in any
// folder, with or without an extension. Pure text, so that it answers the same on any system.
bool isWindowsDevicePath(const QString &path);

#endif // DEVICEPATH_H
