#include "timeline/timerecord.h"

#include <algorithm>
#include <limits>

TimeRecord::TimeRecord(qint64 toleranceMicros)
    : tolerance(toleranceMicros)
{ }

void TimeRecord::clear()
{
    kept.clear();
    hasTail = false;
}

void TimeRecord::narrow(const TimePoint &point)
{
    const TimePoint &from = kept.constLast();
    const double bytes = double(point.offset - from.offset);
    lowest = std::max(lowest, double(point.micros - tolerance - from.micros) / bytes);
    highest = std::min(highest, double(point.micros + tolerance - from.micros) / bytes);
}

void TimeRecord::add(const TimePoint &point)
{
    if (kept.isEmpty()) {
        kept.append(point);
        return;
    }
    if (point.offset <= (hasTail ? latest.offset : kept.constLast().offset))
        return;
    if (hasTail) {
        const TimePoint &from = kept.constLast();
        const double slope
            = double(point.micros - from.micros) / double(point.offset - from.offset);
        if (slope < lowest || slope > highest) {
            // The line to the new point would miss one left out: the latest point stays.
            kept.append(latest);
            hasTail = false;
        }
    }
    if (!hasTail) {
        lowest = -std::numeric_limits<double>::infinity();
        highest = std::numeric_limits<double>::infinity();
    }
    narrow(point);
    latest = point;
    hasTail = true;
}

QVector<TimePoint> TimeRecord::points() const
{
    if (!hasTail)
        return kept;
    QVector<TimePoint> all = kept;
    all.append(latest);
    return all;
}

bool TimeRecord::tail(TimePoint *point) const
{
    if (hasTail)
        *point = latest;
    return hasTail;
}

qint64 TimeRecord::microsAt(qint64 offset) const
{
    if (kept.isEmpty())
        return -1;
    if (hasTail && offset >= latest.offset)
        return latest.micros;
    const auto after = std::upper_bound(
        kept.cbegin(), kept.cend(), offset,
        [](qint64 value, const TimePoint &point) { return value < point.offset; });
    if (after == kept.cbegin())
        return kept.constFirst().micros;
    const TimePoint before = *(after - 1);
    const TimePoint next = after != kept.cend() ? *after : latest;
    if (after == kept.cend() && !hasTail)
        return before.micros;
    return before.micros
        + qint64(double(next.micros - before.micros) * double(offset - before.offset)
                 / double(next.offset - before.offset));
}

TimeRecord TimeRecord::fromPoints(const QVector<TimePoint> &points, qint64 toleranceMicros)
{
    TimeRecord record(toleranceMicros);
    for (const TimePoint &point : points) {
        if (!record.kept.isEmpty() && point.offset <= record.kept.constLast().offset)
            continue;
        record.kept.append(point);
    }
    return record;
}
