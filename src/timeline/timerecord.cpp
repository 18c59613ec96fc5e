#include "timeline/timerecord.h"

#include <algorithm>
#include <cmath>
#include <limits>

TimeRecord::TimeRecord(qint64 toleranceMicros)
    : tolerance(toleranceMicros)
{ }

void TimeRecord::clear()
{
    kept.clear();
    hasTail = false;
}

qint64 TimeRecord::earliest(const TimePoint &point, qint64 previous, qint64 tolerance)
{
    return std::max(std::min(previous, point.micros), point.micros - MaxSpreadMicros) - tolerance;
}

bool TimeRecord::places(const TimePoint &point, qint64 previousMicros) const
{
    const qint64 at = microsAt(point.offset);
    return at >= earliest(point, previousMicros, tolerance) && at <= point.micros + tolerance;
}

void TimeRecord::add(const TimePoint &point)
{
    if (kept.isEmpty()) {
        kept.append(point);
        lastRead = point.micros;
        return;
    }
    if (point.offset <= (hasTail ? latest.offset : kept.constLast().offset))
        return;
    const qint64 before = lastRead;
    lastRead = point.micros;
    const auto slopes = [&](const TimePoint &from, double *low, double *high) {
        const double bytes = double(point.offset - from.offset);
        *low = double(earliest(point, before, tolerance) - from.micros) / bytes;
        *high = double(point.micros + tolerance - from.micros) / bytes;
    };
    double low = 0;
    double high = 0;
    slopes(kept.constLast(), &low, &high);
    if (hasTail && std::max(low, lowest) <= std::min(high, highest)) {
        // One line from the last point kept still places every delivery since.
        lowest = std::max(low, lowest);
        highest = std::min(high, highest);
        latest = point;
        return;
    }
    if (hasTail) {
        kept.append(tailPoint());
        slopes(kept.constLast(), &low, &high);
    }
    lowest = low;
    highest = high;
    latest = point;
    hasTail = true;
}

TimePoint TimeRecord::tailPoint() const
{
    // As early as the deliveries allow: a read is late, never early, and a late point would
    // narrow the lines after it.
    const TimePoint &from = kept.constLast();
    const double bytes = double(latest.offset - from.offset);
    TimePoint point = latest;
    point.micros = std::max(from.micros, from.micros + qint64(std::ceil(lowest * bytes)));
    point.micros = std::min(point.micros, from.micros + qint64(std::floor(highest * bytes)));
    return point;
}

QVector<TimePoint> TimeRecord::points() const
{
    if (!hasTail)
        return kept;
    QVector<TimePoint> all = kept;
    all.append(tailPoint());
    return all;
}

bool TimeRecord::tail(TimePoint *point) const
{
    if (hasTail)
        *point = tailPoint();
    return hasTail;
}

qint64 TimeRecord::microsAt(qint64 offset) const
{
    if (kept.isEmpty())
        return -1;
    const TimePoint last = hasTail ? tailPoint() : kept.constLast();
    if (offset >= last.offset)
        return last.micros;
    const auto *const after = std::upper_bound(
        kept.cbegin(), kept.cend(), offset,
        [](qint64 value, const TimePoint &point) { return value < point.offset; });
    if (after == kept.cbegin())
        return kept.constFirst().micros;
    const TimePoint before = *(after - 1);
    const TimePoint next = after != kept.cend() ? *after : last;
    return before.micros
        + qint64(std::llround(double(next.micros - before.micros) * double(offset - before.offset)
                              / double(next.offset - before.offset)));
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
