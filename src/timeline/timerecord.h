#ifndef TIMERECORD_H
#define TIMERECORD_H

#include "timeline/timepoint.h"

#include <QVector>

// When a capture's bytes arrived, kept small: a point that the straight line between the points
// kept around it predicts within the tolerance is left out.
class TimeRecord
{
public:
    // A USB adapter hands bytes over in frames of 1 ms, and the program reads them when its event
    // loop gets to them: finer than this, the moment of a delivery is not known anyway.
    static constexpr qint64 DefaultToleranceMicros = 1000;

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

    // The moment the byte at offset arrived, between the points around it; -1 when empty.
    qint64 microsAt(qint64 offset) const;

    // A record made of points already merged, as read back from a file.
    static TimeRecord fromPoints(const QVector<TimePoint> &points,
                                 qint64 toleranceMicros = DefaultToleranceMicros);

private:
    // The slopes, in microseconds per byte, of the lines from the last point kept that pass
    // within the tolerance of every point left out since.
    void narrow(const TimePoint &point);

    qint64 tolerance;
    QVector<TimePoint> kept;
    bool hasTail = false;
    TimePoint latest;
    double lowest = 0;
    double highest = 0;
};

#endif // TIMERECORD_H
