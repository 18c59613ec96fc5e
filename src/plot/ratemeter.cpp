#include "plot/ratemeter.h"

#include <algorithm>

namespace {

constexpr std::int64_t kWindowMs = 2000;

} // namespace

void RateMeter::clear()
{
    recent.clear();
    inWindow = 0;
    firstMs = -1;
}

void RateMeter::add(std::int64_t samples, std::int64_t nowMs)
{
    if (samples <= 0)
        return;
    if (firstMs < 0)
        firstMs = nowMs;
    recent.push_back(Delivery{nowMs, samples});
    inWindow += samples;
    while (!recent.empty() && recent.front().ms <= nowMs - kWindowMs) {
        inWindow -= recent.front().samples;
        recent.pop_front();
    }
}

double RateMeter::rate(std::int64_t nowMs) const
{
    if (firstMs < 0)
        return 0;
    std::int64_t samples = inWindow;
    for (const Delivery &d : recent) {
        if (d.ms > nowMs - kWindowMs)
            break;
        samples -= d.samples;
    }
    // The first delivery brings what gathered before it: its time counts from itself.
    const std::int64_t span = std::min(kWindowMs, nowMs - firstMs);
    if (span < 250)
        return 0;
    if (nowMs - firstMs < kWindowMs && !recent.empty() && recent.front().ms == firstMs)
        samples -= recent.front().samples;
    return double(std::max<std::int64_t>(samples, 0)) * 1000.0 / double(span);
}
