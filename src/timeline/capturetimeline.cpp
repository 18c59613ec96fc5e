#include "timeline/capturetimeline.h"

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
