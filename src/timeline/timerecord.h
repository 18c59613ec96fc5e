#ifndef TIMERECORD_H
#define TIMERECORD_H

#include "timeline/timepoint.h"

#include <QVector>

// When a capture's bytes arrived, kept small: a point that the straight line between the points
// kept around it places within its delivery is left out. A delivery's bytes arrived after the
// read before it and by its own read: the line may place them anywhere in between, give or take
// the tolerance, but never more than MaxSpreadMicros before their read.
class TimeRecord
{
public:
    // A USB adapter hands bytes over in frames of 1 ms, and the program reads them when its event
    // loop gets to them: finer than this, the moment of a delivery is not known anyway.
    static constexpr qint64 DefaultToleranceMicros = 1000;
    // A USB adapter's latency timer holds bytes up to 16 ms; after a longer silence, the bytes
    // that end it stay at its end.
    static constexpr qint64 MaxSpreadMicros = 16000;

    explicit TimeRecord(qint64 toleranceMicros = DefaultToleranceMicros);

    // The capture held point.offset bytes at point.micros. Points come in order of offset; one
    // that does not add bytes is left out.
    void add(const TimePoint &point);
    void clear();

    // The points kept, and the latest one, which the next may still replace.
    QVector<TimePoint> points() const;
    int size() const { return kept.size() + (hasTail ? 1 : 0); }
    bool isEmpty() const { return size() == 0; }
    // The points that stay whatever comes next; the latest one is not among them.
    const QVector<TimePoint> &settled() const { return kept; }
    bool tail(TimePoint *point) const;
    qint64 toleranceMicros() const { return tolerance; }

    // Whether the record places the delivery that brought the capture to point.offset at
    // point.micros: between the read before it (at previousMicros) and point.micros, as above.
    bool places(const TimePoint &point, qint64 previousMicros) const;

    // The moment the byte at offset arrived, between the points around it; -1 when empty.
    qint64 microsAt(qint64 offset) const;

    // A record made of points already merged, as read back from a file.
    static TimeRecord fromPoints(const QVector<TimePoint> &points,
                                 qint64 toleranceMicros = DefaultToleranceMicros);

private:
    // The latest point, at a moment the lines below allow.
    TimePoint tailPoint() const;
    // The earliest moment the line may give the delivery of point, read after one at previous.
    static qint64 earliest(const TimePoint &point, qint64 previous, qint64 tolerance);

    qint64 tolerance;
    QVector<TimePoint> kept;
    bool hasTail = false;
    TimePoint latest;
    // When the latest delivery was read.
    qint64 lastRead = 0;
    // The slopes, in microseconds per byte, of the lines from the last point kept that place
    // every delivery since, the latest included.
    double lowest = 0;
    double highest = 0;
};

#endif // TIMERECORD_H
