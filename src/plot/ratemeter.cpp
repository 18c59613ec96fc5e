#include "plot/ratemeter.h"

namespace {

constexpr std::int64_t kWindowMs = 2000;
// Nothing for this long: the samples have stopped.
constexpr std::int64_t kStoppedMs = 1000;
// 200 ticks span the window, within the 256 slots.
constexpr std::int64_t kTickMs = 10;

std::int64_t tickOf(std::int64_t ms)
{
    return ms >= 0 ? ms / kTickMs : (ms - kTickMs + 1) / kTickMs;
}

} // namespace

void RateMeter::clear()
{
    ring.fill(Slot());
    any = false;
}

void RateMeter::add(std::int64_t samples, std::int64_t nowMs)
{
    if (samples <= 0)
        return;
    const std::int64_t tick = tickOf(nowMs);
    Slot &slot = ring[std::size_t(tick) % ring.size()];
    if (slot.tick != tick)
        slot = Slot{tick, nowMs, samples, 0};
    slot.samples += samples;
    lastMs = nowMs;
    any = true;
}

double RateMeter::rate(std::int64_t nowMs) const
{
    if (!any || nowMs - lastMs > kStoppedMs)
        return 0;
    // From the first delivery in the window to the last: what came after the first arrived in
    // that time, whatever the size of the bursts.
    const Slot *first = nullptr;
    std::int64_t samples = 0;
    for (std::int64_t tick = tickOf(nowMs - kWindowMs); tick <= tickOf(nowMs); ++tick) {
        const Slot &slot = ring[std::size_t(tick) % ring.size()];
        if (slot.tick != tick || slot.firstMs <= nowMs - kWindowMs)
            continue;
        if (!first)
            first = &slot;
        samples += slot.samples;
    }
    if (!first)
        return 0;
    const std::int64_t span = lastMs - first->firstMs;
    if (span < 250)
        return 0;
    return double(samples - first->firstSamples) * 1000.0 / double(span);
}
