#include "export/exportplan.h"

#include "export/offsetclock.h"
#include "export/ratefit.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// Offsets after which the samples come at a pace of their own.
QVector<std::int64_t> pauses(const QVector<CaptureEvent> &events)
{
    QVector<std::int64_t> at;
    for (const CaptureEvent &e : events) {
        switch (e.type) {
        case CaptureEvent::Type::Start:
        case CaptureEvent::Type::Stop:
        case CaptureEvent::Type::Silence:
        case CaptureEvent::Type::Lost:
        case CaptureEvent::Type::Reconnected:
        case CaptureEvent::Type::Restarted:
            if (e.offset > 0)
                at.append(e.offset);
            break;
        default:
            break;
        }
    }
    std::sort(at.begin(), at.end());
    at.erase(std::unique(at.begin(), at.end()), at.end());
    return at;
}

} // namespace

bool ExportPlan::survey(const Input &input, double nominalRate,
                        std::atomic<std::int64_t> *bytesRead, const std::atomic<bool> *cancelled,
                        QString *reason)
{
    SampleReader reader;
    reader.setCuts(cuts(input.events));
    OffsetClock clock(input.times);
    const QVector<std::int64_t> pausedAt = pauses(input.events);
    int nextPause = 0;
    segments.clear();
    std::vector<RateFit> fits;
    // After a pause the record's line runs from before it to the first read after it, which
    // would place that delivery's lines inside the pause: a segment is fitted from that read on.
    std::int64_t fitFrom = 0;
    std::vector<double> firstTimes;
    Channel stats[ChannelMap::maxChannels];
    bool inGap[ChannelMap::maxChannels] = {};
    const bool ok = reader.read(
        input.capture,
        [&](const SampleReader::Sample &s) {
            // A line that ends at the pause belongs before it.
            bool paused = false;
            while (nextPause < pausedAt.size() && pausedAt[nextPause] < s.endOffset) {
                ++nextPause;
                paused = true;
            }
            if (segments.isEmpty() || paused) {
                segments.append(Segment{s.index, 0, 0});
                fits.emplace_back();
                firstTimes.push_back(clock.micros(s.endOffset) / 1e6);
                if (paused) {
                    const std::int64_t pause = pausedAt[nextPause - 1];
                    const auto *const read = std::upper_bound(
                        input.times.begin(), input.times.end(), pause,
                        [](std::int64_t offset, const TimePoint &p) { return offset < p.offset; });
                    fitFrom = read == input.times.end() ? s.endOffset : read->offset;
                }
            }
            if (!clock.isEmpty() && s.endOffset >= fitFrom)
                fits.back().add(double(s.index), clock.micros(s.endOffset) / 1e6);
            for (int c = 0; c < reader.channels().count(); ++c) {
                Channel &ch = stats[c];
                if (!(s.present & (1u << c))) {
                    // A channel that appears late is one gap from the first sample on.
                    if (!inGap[c])
                        ++ch.gaps;
                    inGap[c] = true;
                    continue;
                }
                inGap[c] = false;
                const double v = s.values[c];
                if (ch.count++ == 0) {
                    ch.first = s.index;
                    ch.min = ch.max = v;
                } else {
                    ch.min = std::min(ch.min, v);
                    ch.max = std::max(ch.max, v);
                }
                ch.last = s.index;
                if (ch.integers && std::trunc(v) != v)
                    ch.integers = false;
            }
            return true;
        },
        bytesRead, cancelled, reason);
    if (!ok)
        return false;
    stopped = reader.wasCancelled();
    if (stopped)
        return false;
    samples = reader.samples();
    events = input.events.size();
    skippedLines = reader.skippedLines();
    channels.clear();
    for (int c = 0; c < reader.channels().count(); ++c) {
        stats[c].name = reader.channels().name(c);
        channels.append(stats[c]);
    }
    if (samples == 0) {
        *reason = tr("The capture holds no line with a number.");
        return false;
    }
    measured = nominalRate <= 0;
    period = measured ? RateFit::sharedPeriod(fits) : 1.0 / nominalRate;
    if (period <= 0 || !std::isfinite(period)) {
        *reason = tr("The capture's time record gives no sample rate; type the device's rate.");
        return false;
    }
    for (int k = 0; k < segments.size(); ++k) {
        Segment &segment = segments[k];
        const RateFit &fit = fits[std::size_t(k)];
        segment.origin = fit.count() > 0
            ? fit.intercept(period)
            : firstTimes[std::size_t(k)] - double(segment.firstSample) * period;
        if (k == 0)
            continue;
        // Never before the pace of the segment before: times only go forward.
        const Segment &before = segments[k - 1];
        segment.origin = std::max(segment.origin, before.origin);
        segment.shift
            = std::max(before.shift,
                       std::int64_t(std::llround((segment.origin - segments[0].origin) / period)));
    }
    firstSeconds = segments[0].origin;
    return true;
}

const ExportPlan::Segment &ExportPlan::segmentOf(std::int64_t sample, int *at) const
{
    while (*at + 1 < segments.size() && segments[*at + 1].firstSample <= sample)
        ++*at;
    return segments[*at];
}

QVector<std::int64_t> ExportPlan::cuts(const QVector<CaptureEvent> &events)
{
    QVector<std::int64_t> at;
    for (const CaptureEvent &e : events) {
        if (e.type == CaptureEvent::Type::Lost)
            at.append(e.offset);
    }
    std::sort(at.begin(), at.end());
    return at;
}

QString ExportPlan::eventText(const CaptureEvent &event)
{
    if (event.type == CaptureEvent::Type::Marker) {
        if (event.number > 0 && !event.label.isEmpty())
            return QStringLiteral("%1 %2").arg(event.number).arg(event.label);
        if (event.number > 0)
            return QString::number(event.number);
        return event.label.isEmpty() ? CaptureEvent::typeName(event.type) : event.label;
    }
    const QString type = CaptureEvent::typeName(event.type);
    return event.label.isEmpty() ? type : type + QStringLiteral(": ") + event.label;
}
