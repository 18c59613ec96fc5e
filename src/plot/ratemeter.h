#ifndef RATEMETER_H
#define RATEMETER_H

#include <array>
#include <cstdint>
#include <limits>

// Samples per second over the last two seconds of deliveries, in fixed room: a delivery
// allocates nothing.
class RateMeter
{
public:
    void clear();
    void add(std::int64_t samples, std::int64_t nowMs);
    // 0 until a quarter of a second has been seen, and again once the samples stop.
    double rate(std::int64_t nowMs) const;

private:
    // The deliveries of one tick of the clock, taken together.
    struct Slot
    {
        // No tick of a clock: an empty slot never passes for one.
        std::int64_t tick = std::numeric_limits<std::int64_t>::min();
        std::int64_t firstMs = 0;
        std::int64_t firstSamples = 0;
        std::int64_t samples = 0;
    };
    std::array<Slot, 256> ring;
    std::int64_t lastMs = 0;
    bool any = false;
};

#endif // RATEMETER_H
