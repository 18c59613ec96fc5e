#ifndef TIMEPOINT_H
#define TIMEPOINT_H

#include <QtGlobal>

// One point of a capture's time record: it held offset bytes at micros on a steady clock since
// its start. Between two points, bytes are taken to have come at a steady pace.
struct TimePoint
{
    qint64 offset = 0;
    qint64 micros = 0;
};

#endif // TIMEPOINT_H
