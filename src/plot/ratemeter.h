#ifndef RATEMETER_H
#define RATEMETER_H

#include <cstdint>
#include <deque>

// Samples per second over the last two seconds of deliveries.
class RateMeter
{
public:
    void clear();
    void add(std::int64_t samples, std::int64_t nowMs);
    // 0 until a quarter of a second has been seen, and again once the samples stop.
    double rate(std::int64_t nowMs) const;

private:
    struct Delivery
    {
        std::int64_t ms;
        std::int64_t samples;
    };
    std::deque<Delivery> recent;
};

#endif // RATEMETER_H
