#ifndef CAPTURETIMELINE_H
#define CAPTURETIMELINE_H

#include "timeline/captureevent.h"
#include "timeline/timerecord.h"

#include <QDateTime>
#include <QVector>

// What a capture knows of when: its start, when its bytes arrived, and what happened meanwhile.
struct CaptureTimeline
{
    QDateTime startUtc;
    TimeRecord times;
    QVector<CaptureEvent> events;

    // Adds the event, or replaces the one of the same id: a label typed later.
    void put(const CaptureEvent &event);
    // The first bytes are gone: offsets count from the first byte left.
    void dropFront(qint64 bytes);
    // The moved copy of a timeline whose offsets and moments start that far into this one.
    static CaptureEvent shifted(CaptureEvent event, qint64 offset, qint64 micros);
};

#endif // CAPTURETIMELINE_H
