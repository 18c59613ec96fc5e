#ifndef OFFSETCLOCK_H
#define OFFSETCLOCK_H

#include "timeline/timepoint.h"

#include <QVector>

// When the byte at an offset arrived, read from a capture's time record: at a steady pace between
// two points, at the first point's moment before it and the last one's after it. Asked for
// offsets in order, it costs O(1) each.
class OffsetClock
{
public:
    explicit OffsetClock(const QVector<TimePoint> &points);

    bool isEmpty() const { return points.isEmpty(); }
    // Microseconds since the capture's start; offsets must not decrease from one call to the next.
    double micros(qint64 offset);

private:
    QVector<TimePoint> points;
    int next = 0;
};

#endif // OFFSETCLOCK_H
