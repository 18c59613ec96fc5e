#include "export/offsetclock.h"

OffsetClock::OffsetClock(const QVector<TimePoint> &points)
    : points(points)
{ }

double OffsetClock::micros(qint64 offset)
{
    const int n = points.size();
    if (n == 0)
        return 0;
    // The first point that holds the offset.
    while (next < n && points[next].offset < offset)
        ++next;
    if (next == 0)
        return double(points[0].micros);
    if (next == n)
        return double(points[n - 1].micros);
    const TimePoint &a = points[next - 1];
    const TimePoint &b = points[next];
    if (b.offset == a.offset)
        return double(b.micros);
    return double(a.micros)
        + double(b.micros - a.micros) * double(offset - a.offset) / double(b.offset - a.offset);
}
