#include "plot/ratemeter.h"

#include <algorithm>

namespace {

constexpr std::int64_t kWindowMs = 2000;
// Nothing for this long: the samples have stopped.
constexpr std::int64_t kStoppedMs = 1000;

} // namespace

void RateMeter::clear()
{
    recent.clear();
}

void RateMeter::add(std::int64_t samples, std::int64_t nowMs)
{
    if (samples <= 0)
        return;
    recent.push_back(Delivery{nowMs, samples});
    while (!recent.empty() && recent.front().ms <= nowMs - kWindowMs)
        recent.pop_front();
}

double RateMeter::rate(std::int64_t nowMs) const
{
    // From the first delivery in the window to the last: what came after the first arrived in
    // that time, whatever the size of the bursts.
    auto first = recent.begin();
    while (first != recent.end() && first->ms <= nowMs - kWindowMs)
        ++first;
    if (first == recent.end() || nowMs - recent.back().ms > kStoppedMs)
        return 0;
    std::int64_t samples = -first->samples;
    for (auto d = first; d != recent.end(); ++d)
        samples += d->samples;
    const std::int64_t span = recent.back().ms - first->ms;
    if (span < 250)
        return 0;
    return double(samples) * 1000.0 / double(span);
}
