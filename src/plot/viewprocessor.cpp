#include "plot/viewprocessor.h"

#include "plot/plotmodel.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// The clipping's share of a step: raw samples times channels.
constexpr std::int64_t kClipWorkPerStep = 500'000;

} // namespace

void ViewProcessor::setSettings(const Settings &settings)
{
    if (settings == wanted)
        return;
    wanted = settings;
    changed = true;
}

void ViewProcessor::setAdcLimits(double lo, double hi)
{
    clips.setLimits(lo, hi);
    // Single samples at the limits were not kept before: look at the window again.
    clips.clear();
    clipNext = 0;
}

void ViewProcessor::clear()
{
    changed = true;
    modelEnd = 0;
    designRate = 0;
    running = false;
    processed.clear();
    first = 0;
    clips.clear();
    clipNext = 0;
}

void ViewProcessor::restart(const PlotModel &model, double windowSeconds, double rate)
{
    const History &raw = model.history();
    designRate = rate;
    filter.design(wanted.filter, rate, History::maxChannels);
    const bool envelope = wanted.envelope && rate > 0;
    if (envelope) {
        const auto length = std::size_t(std::max(1.0, std::round(wanted.envelopeMs * rate / 1000)));
        for (RunningRms &rms : envelopes)
            rms.setLength(length);
    }
    running = filter.any() || envelope;

    QStringList why;
    if (!(rate > 0) && wanted.any()) {
        why << tr("the view waits for a sample rate");
    } else {
        if (highPassRefused())
            why << tr("a %1 Hz high-pass needs %2 samples/s")
                       .arg(wanted.filter.highPassHz)
                       .arg(ViewFilter::rateNeeded(wanted.filter.highPassHz));
        if (mainsRefused())
            why << tr("a %1 Hz notch needs %2 samples/s")
                       .arg(wanted.filter.mainsHz)
                       .arg(ViewFilter::rateNeeded(wanted.filter.mainsHz));
    }
    refused = why.join(QStringLiteral(", "));

    processed.clear();
    processed.setChannelCount(model.channelCount());
    const std::int64_t end = raw.sampleCount();
    first = end;
    if (rate > 0)
        first = std::max(raw.firstHeld(1), end - std::int64_t(std::ceil(windowSeconds * rate)) - 1);
    first = std::clamp<std::int64_t>(first, 0, end);
    latestValues.fill(std::numeric_limits<double>::quiet_NaN());
    changed = false;
}

bool ViewProcessor::step(const PlotModel &model, double windowSeconds)
{
    const History &raw = model.history();
    const std::int64_t end = raw.sampleCount();
    const int channels = model.channelCount();
    const bool cleared = end < modelEnd;
    modelEnd = end;
    bool fresh = false;

    // Clipping, on the raw samples, whatever the view shows.
    if (cleared) {
        clips.clear();
        clipNext = 0;
    }
    const std::int64_t held = raw.firstHeld(1);
    const double axisRate = model.axisRate(windowSeconds);
    clipNext = std::max({clipNext, held, end - std::int64_t(std::ceil(windowSeconds * axisRate))});
    const std::int64_t clipTo = std::min(end, clipNext + kClipWorkPerStep / std::max(1, channels));
    for (std::int64_t i = clipNext; i < clipTo; ++i) {
        for (int c = 0; c < channels; ++c) {
            float v = 0;
            clips.add(c, i, raw.value(c, i, &v) ? v : std::numeric_limits<float>::quiet_NaN());
        }
    }
    fresh = clipTo > clipNext;
    clipNext = clipTo;

    if (!wanted.any()) {
        running = false;
        refused.clear();
        changed = true; // whatever is chosen next starts afresh
        return fresh;
    }
    const double rate = model.rate();
    const bool moved = rate > 0
        && (!(designRate > 0) || std::abs(rate - designRate) > redesignShare * designRate);
    if (changed || cleared || moved)
        restart(model, windowSeconds, rate > 0 ? rate : designRate);
    if (!running)
        return fresh;
    // The raw samples to go on from have left the history, or the window (the plot was hidden
    // or paused): start again at the window's left edge rather than work through what is past.
    const std::int64_t windowFirst = end - std::int64_t(std::ceil(windowSeconds * designRate)) - 1;
    if (this->end() < std::max(held, windowFirst))
        restart(model, windowSeconds, designRate);
    processed.setChannelCount(channels);

    const std::int64_t sections = 2 + filter.notchCount() + (filter.highPassOn() ? 2 : 0);
    const std::int64_t most
        = std::max<std::int64_t>(1, workPerStep / (sections * std::max<std::int64_t>(1, channels)));
    const std::int64_t from = this->end();
    const std::int64_t to = std::min(end, from + most);
    float values[History::maxChannels];
    for (std::int64_t i = from; i < to; ++i) {
        for (int c = 0; c < channels; ++c) {
            float v = 0;
            if (!raw.value(c, i, &v)) {
                // A gap stays a gap; the filters hold their state across it.
                values[c] = std::numeric_limits<float>::quiet_NaN();
                continue;
            }
            v = filter.process(c, v);
            // A corrupted sample (the filters give NaN for it and start again) is a gap, and the
            // envelope, given NaN, starts again too.
            if (!(std::abs(v) <= ViewFilter::largest))
                v = std::numeric_limits<float>::quiet_NaN();
            if (wanted.envelope)
                v = envelopes[std::size_t(c)].add(v);
            values[c] = v;
            if (!std::isnan(v))
                latestValues[std::size_t(c)] = v;
        }
        processed.append(values);
    }
    return fresh || to > from;
}

QString ViewProcessor::stateText() const
{
    QStringList parts;
    if (running) {
        if (filter.highPassOn())
            parts << tr("High-pass %1 Hz").arg(wanted.filter.highPassHz);
        if (filter.mainsOn())
            parts << tr("%1 Hz notch").arg(wanted.filter.mainsHz);
        if (wanted.envelope)
            parts << tr("Envelope %1 ms").arg(wanted.envelopeMs);
    }
    if (!refused.isEmpty())
        parts << tr("Not filtered: %1").arg(refused);
    return parts.join(QStringLiteral(" · "));
}

double ViewProcessor::clipShare(const PlotModel &model, int channel, std::int64_t from,
                                std::int64_t to) const
{
    from = std::max<std::int64_t>(from, 0);
    to = std::min(to, clipNext);
    if (to <= from)
        return 0;
    float lo = 0;
    float hi = 0;
    model.history().columns(channel, double(from), double(to - from), 1, &lo, &hi);
    if (lo > hi)
        return 0;
    return clips.share(channel, from, to, lo, hi);
}
