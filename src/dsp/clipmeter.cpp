#include "dsp/clipmeter.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Runs kept a channel: more than a window of rail-bound signal has, at any rate we plot.
constexpr std::size_t kRuns = 4096;

} // namespace

void ClipMeter::Ring::push(const Run &run)
{
    runs[next] = run;
    next = (next + 1) % runs.size();
    used = std::min(used + 1, runs.size());
}

void ClipMeter::Ring::pop()
{
    next = (next + runs.size() - 1) % runs.size();
    --used;
}

ClipMeter::ClipMeter()
{
    clear();
}

void ClipMeter::clear()
{
    for (Channel &ch : channels) {
        ch = Channel();
        ch.high.runs.resize(kRuns);
        ch.low.runs.resize(kRuns);
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
    return hasLimits() ? atLimit(run.value) : run.length >= minRun;
}

void ClipMeter::keep(Channel &ch)
{
    if (!ch.any)
        return;
    const Run &run = ch.current;
    if (!counts(run)) {
        ch.sinceHi = std::max(ch.sinceHi, run.value);
        ch.sinceLo = std::min(ch.sinceLo, run.value);
        return;
    }
    if (hasLimits()) {
        ch.high.push(run);
        return;
    }
    // A run with a later sample above it is no window's highest again: it gives its room to the
    // runs that may be, so quiet runs do not push early clipping out of a long window. Each ring
    // stays ordered (what is left has nothing later above it), so only its newest need be looked
    // at.
    const float hi = std::max(ch.sinceHi, run.value);
    const float lo = std::min(ch.sinceLo, run.value);
    while (ch.high.used > 0 && ch.high.newest().value < hi)
        ch.high.pop();
    while (ch.low.used > 0 && ch.low.newest().value > lo)
        ch.low.pop();
    ch.high.push(run);
    ch.low.push(run);
    ch.sinceHi = -std::numeric_limits<float>::infinity();
    ch.sinceLo = std::numeric_limits<float>::infinity();
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
    auto overlap = [&](const Run &run) {
        const std::int64_t a = std::max(first, run.start);
        const std::int64_t b = std::min(end, run.start + run.length);
        return std::max<std::int64_t>(0, b - a);
    };
    std::int64_t total = 0;
    if (hasLimits()) {
        if (ch.any && counts(ch.current))
            total += overlap(ch.current);
        for (std::size_t k = 0; k < ch.high.used; ++k)
            total += overlap(ch.high[k]);
    } else if (lo < hi) {
        // A channel at one value all along has no extreme to tell from a rail: an unused input
        // sending 0 is not clipping. With the ADC's range stated, a rail counts as any other.
        if (ch.any && counts(ch.current) && (ch.current.value >= hi || ch.current.value <= lo))
            total += overlap(ch.current);
        for (std::size_t k = 0; k < ch.high.used; ++k) {
            if (ch.high[k].value >= hi)
                total += overlap(ch.high[k]);
        }
        for (std::size_t k = 0; k < ch.low.used; ++k) {
            if (ch.low[k].value <= lo && !(ch.low[k].value >= hi))
                total += overlap(ch.low[k]);
        }
    }
    return double(total) / double(end - first);
}
