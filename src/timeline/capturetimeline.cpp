#include "timeline/capturetimeline.h"

#include <algorithm>

void CaptureTimeline::put(const CaptureEvent &event)
{
    // Labels are typed for the latest events: look from the end.
    for (int i = events.size() - 1; i >= 0; --i) {
        if (events.at(i).id == event.id) {
            events[i] = event;
            return;
        }
    }
    events.append(event);
}

CaptureEvent CaptureTimeline::shifted(CaptureEvent event, qint64 offset, qint64 micros)
{
    event.offset += offset;
    event.micros += micros;
    return event;
}

void CaptureTimeline::dropFront(qint64 bytes)
{
    const QVector<TimePoint> old = times.points();
    QVector<TimePoint> left;
    if (!old.isEmpty() && old.constLast().offset > bytes)
        left.append({0, times.microsAt(bytes)});
    for (const TimePoint &point : old) {
        if (point.offset > bytes)
            left.append({point.offset - bytes, point.micros});
    }
    times = TimeRecord::fromPoints(left);
    // An event of the lost bytes keeps its moment, at what is left's start.
    for (CaptureEvent &event : events)
        event.offset = std::max<qint64>(0, event.offset - bytes);
}
