#include "dsp/clipmeter.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Runs kept a channel: more than a window of rail-bound signal has, at any rate we plot.
constexpr std::size_t kRuns = 4096;

} // namespace

ClipMeter::ClipMeter()
{
    clear();
}

void ClipMeter::clear()
{
    for (Channel &ch : channels) {
        ch = Channel();
        ch.kept.resize(kRuns);
    }
}

void ClipMeter::setLimits(double lo, double hi)
{
    limitLo = lo;
    limitHi = hi;
    // Beyond float's range a limit is one no sample reaches (PlotModel clamps to float's largest).
    constexpr double top = std::numeric_limits<float>::max();
    sampleLo = lo < -top ? -std::numeric_limits<float>::infinity() : float(lo);
    sampleHi = hi > top ? std::numeric_limits<float>::infinity() : float(hi);
}

bool ClipMeter::counts(const Run &run) const
{
    return run.length >= minRun || (hasLimits() && atLimit(run.value));
}

void ClipMeter::keep(Channel &ch)
{
    if (!ch.any || !counts(ch.current))
        return;
    ch.kept[ch.next] = ch.current;
    ch.next = (ch.next + 1) % ch.kept.size();
    ch.used = std::min(ch.used + 1, ch.kept.size());
}

void ClipMeter::add(int channel, std::int64_t index, float value)
{
    if (channel < 0 || channel >= maxChannels)
        return;
    Channel &ch = channels[std::size_t(channel)];
    if (std::isnan(value)) {
        keep(ch);
        ch.any = false;
        return;
    }
    if (ch.any && value == ch.current.value && index == ch.current.start + ch.current.length) {
        ++ch.current.length;
        return;
    }
    keep(ch);
    ch.current = Run{index, 1, value};
    ch.any = true;
}

double ClipMeter::share(int channel, std::int64_t first, std::int64_t end, double lo,
                        double hi) const
{
    if (channel < 0 || channel >= maxChannels || end <= first)
        return 0;
    const Channel &ch = channels[std::size_t(channel)];
    auto clipped = [&](const Run &run) {
        if (!counts(run))
            return std::int64_t(0);
        const bool at
            = hasLimits() ? atLimit(run.value) : (lo < hi && (run.value <= lo || run.value >= hi));
        if (!at)
            return std::int64_t(0);
        const std::int64_t a = std::max(first, run.start);
        const std::int64_t b = std::min(end, run.start + run.length);
        return std::max<std::int64_t>(0, b - a);
    };
    std::int64_t total = ch.any ? clipped(ch.current) : 0;
    for (std::size_t k = 0; k < ch.used; ++k)
        total += clipped(ch.kept[k]);
    return double(total) / double(end - first);
}
