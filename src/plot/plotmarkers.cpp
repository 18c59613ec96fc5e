#include "plot/plotmarkers.h"

#include "plot/plotmodel.h"

#include <QHash>

#include <algorithm>
#include <limits>

namespace {

// The deliveries whose ends are remembered, for an event put back at an offset already read.
constexpr std::size_t kCheckpoints = 4096;

} // namespace

bool PlotMarkers::drawn(CaptureEvent::Type type)
{
    return type == CaptureEvent::Type::Marker || type == CaptureEvent::Type::Lost
        || type == CaptureEvent::Type::Reconnected;
}

QString PlotMarkers::text(const Mark &mark)
{
    if (!mark.label.isEmpty())
        return mark.label;
    if (mark.number > 0)
        return QString::number(mark.number);
    return mark.type == CaptureEvent::Type::Marker ? QStringLiteral("M")
                                                   : CaptureEvent::typeName(mark.type);
}

std::int64_t PlotMarkers::arrivingSample(const PlotModel &model)
{
    // Within a line, the line still arriving; at a line's end, the line that just ended.
    const std::int64_t count = model.history().sampleCount();
    return std::max<std::int64_t>(0, model.atLineEnd() ? count - 1 : count);
}

std::int64_t PlotMarkers::sampleAt(std::int64_t bytes, const PlotModel &model) const
{
    if (bytes == model.bytesRead())
        return arrivingSample(model);
    const auto after
        = std::lower_bound(checkpoints.begin(), checkpoints.end(), bytes,
                           [](const Checkpoint &c, std::int64_t b) { return c.bytes < b; });
    if (after == checkpoints.end() || after == checkpoints.begin())
        return after != checkpoints.end() && after->bytes == bytes ? after->sample : -1;
    if (after->bytes == bytes)
        return after->sample;
    // Inside a delivery: its lines are taken to be of one length.
    const Checkpoint &before = *(after - 1);
    return before.sample
        + (after->sample - before.sample) * (bytes - before.bytes) / (after->bytes - before.bytes);
}

void PlotMarkers::place(const CaptureEvent &event, std::int64_t sample)
{
    if (sample < 0)
        return;
    Mark mark{event.id, event.type, event.number, event.label, sample};
    const auto at = std::upper_bound(placed.begin(), placed.end(), sample,
                                     [](std::int64_t s, const Mark &m) { return s < m.sample; });
    placed.insert(at, mark);
}

void PlotMarkers::dropOlderThan(std::int64_t sample)
{
    while (!placed.empty() && placed.front().sample < sample)
        placed.pop_front();
}

void PlotMarkers::feed(PlotModel &model, const QByteArray &data)
{
    if (data.isEmpty())
        return;
    const std::int64_t before = model.bytesRead();
    const std::int64_t after = before + data.size();
    // The delivery is the capture's newest bytes too, wherever the capture's count stands now.
    const qint64 size = captureSize ? captureSize() : after;
    offsetToBytes = after - size;
    captureSizeThen = size;
    lined = true;

    std::stable_sort(
        waiting.begin(), waiting.end(),
        [](const CaptureEvent &a, const CaptureEvent &b) { return a.offset < b.offset; });
    std::deque<CaptureEvent> later;
    int fed = 0;
    for (const CaptureEvent &event : waiting) {
        const std::int64_t at = event.offset + offsetToBytes;
        if (at > after) {
            later.push_back(event);
        } else if (at < before) {
            // Before the plot's last clear the sample is gone: sampleAt() says -1.
            place(event, at < 0 ? -1 : sampleAt(at, model));
        } else {
            const int cut = int(at - before);
            if (cut > fed) {
                model.append(QByteArray::fromRawData(data.constData() + fed, cut - fed));
                fed = cut;
            }
            place(event, arrivingSample(model));
        }
    }
    waiting.swap(later);
    if (fed == 0)
        model.append(data);
    else if (fed < data.size())
        model.append(QByteArray::fromRawData(data.constData() + fed, data.size() - fed));

    checkpoints.push_back(Checkpoint{after, arrivingSample(model)});
    if (checkpoints.size() > kCheckpoints)
        checkpoints.pop_front();
    dropOlderThan(model.history().firstHeld(std::numeric_limits<double>::max()));
}

void PlotMarkers::add(const CaptureEvent &event, const PlotModel &model)
{
    if (!drawn(event.type))
        return;
    // A label typed afterwards, most likely for one of the newest.
    for (auto it = placed.rbegin(); it != placed.rend(); ++it) {
        if (it->id == event.id) {
            it->label = event.label;
            it->number = event.number;
            return;
        }
    }
    for (CaptureEvent &w : waiting) {
        if (w.id == event.id) {
            w.label = event.label;
            w.number = event.number;
            return;
        }
    }
    // Between deliveries the capture and the plot have read the same bytes; in the middle of one,
    // or after a start, the capture's count has moved and the next delivery places it.
    if (lined && captureSize && captureSize() == captureSizeThen) {
        const std::int64_t at = event.offset + offsetToBytes;
        if (at <= model.bytesRead()) {
            place(event, at < 0 ? -1 : sampleAt(at, model));
            return;
        }
    }
    waiting.push_back(event);
}

void PlotMarkers::reset(const QVector<CaptureEvent> &events)
{
    lined = false;
    QHash<qint64, const CaptureEvent *> listed;
    std::deque<CaptureEvent> unplaced;
    for (const CaptureEvent &event : events) {
        if (drawn(event.type))
            listed.insert(event.id, &event);
    }
    std::deque<Mark> kept;
    for (const Mark &mark : placed) {
        const CaptureEvent *event = listed.take(mark.id);
        if (!event)
            continue;
        kept.push_back(mark);
        kept.back().label = event->label;
        kept.back().number = event->number;
    }
    placed.swap(kept);
    // The others wait for the next delivery, which shows where the capture's offsets are now.
    waiting.clear();
    for (const CaptureEvent &event : events) {
        if (listed.contains(event.id))
            waiting.push_back(event);
    }
}

void PlotMarkers::clear()
{
    placed.clear();
    checkpoints.assign(1, Checkpoint{0, 0});
    lined = false;
}
