#include "export/exportplan.h"

#include "export/offsetclock.h"
#include "export/ratefit.h"

#include <cmath>

bool ExportPlan::survey(const Input &input, double nominalRate,
                        std::atomic<std::int64_t> *bytesRead, const std::atomic<bool> *cancelled,
                        QString *reason)
{
    SampleReader reader;
    OffsetClock clock(input.times);
    RateFit fit;
    Channel stats[ChannelMap::maxChannels];
    bool inGap[ChannelMap::maxChannels] = {};
    const bool ok = reader.read(
        input.capture,
        [&](const SampleReader::Sample &s) {
            if (!clock.isEmpty())
                fit.add(double(s.index), clock.micros(s.endOffset) / 1e6);
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
    period = measured ? fit.period() : 1.0 / nominalRate;
    if (period <= 0 || !std::isfinite(period)) {
        *reason = tr("The capture's time record gives no sample rate; type the device's rate.");
        return false;
    }
    firstSeconds = fit.count() > 0 ? fit.intercept(period) : 0;
    return true;
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
