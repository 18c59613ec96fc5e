#ifndef CLIPMETER_H
#define CLIPMETER_H

#include <array>
#include <cstdint>
#include <limits>
#include <vector>

// Finds where a channel clips: runs of samples that sit at one value, which count when that
// value is the channel's extreme over the window shown, or every sample at or beyond the ADC's
// limits once the user stated them. Fixed room; a sample costs O(1) on average.
class ClipMeter
{
public:
    static constexpr int maxChannels = 8;
    // Shorter runs at the extreme are a peak, not a rail.
    static constexpr int minRun = 3;

    ClipMeter();
    void clear();
    // lo < hi: every value at or beyond them is clipped; otherwise the runs at the extremes.
    void setLimits(double lo, double hi);
    bool hasLimits() const { return limitLo < limitHi; }

    // Sample `index` of a channel; samples come in order, from any index on.
    void add(int channel, std::int64_t index, float value);
    // The share of samples [first, end) that clipped; lo and hi are the channel's extremes there.
    double share(int channel, std::int64_t first, std::int64_t end, double lo, double hi) const;

private:
    struct Run
    {
        std::int64_t start = 0;
        std::int64_t length = 0;
        float value = 0;
    };
    // Runs oldest first in fixed room; the oldest gives way when full.
    struct Ring
    {
        std::vector<Run> runs;
        std::size_t next = 0;
        std::size_t used = 0;
        void push(const Run &run);
        const Run &newest() const { return runs[(next + runs.size() - 1) % runs.size()]; }
        void pop();
        const Run &operator[](std::size_t k) const
        {
            return runs[(next + runs.size() - used + k) % runs.size()];
        }
    };
    struct Channel
    {
        Run current;
        bool any = false;
        // Without limits: the runs that may still be a window's highest, and its lowest (the
        // windows asked about end at the latest sample). With them: the runs at the limits.
        Ring high;
        Ring low;
        float sinceHi = -std::numeric_limits<float>::infinity(); // since the newest kept run
        float sinceLo = std::numeric_limits<float>::infinity();
    };
    bool counts(const Run &run) const;
    void keep(Channel &ch);
    // Against the limits as a sample stores them: a rail at 3.3 V arrives as float(3.3), below 3.3.
    bool atLimit(float v) const { return v <= sampleLo || v >= sampleHi; }

    std::array<Channel, maxChannels> channels;
    double limitLo = 0;
    double limitHi = 0;
    float sampleLo = 0;
    float sampleHi = 0;
};

#endif // CLIPMETER_H
