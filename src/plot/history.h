#ifndef HISTORY_H
#define HISTORY_H

#include <cstddef>
#include <cstdint>
#include <vector>

// The plot's samples, bounded: the newest raw, older ones as min/max per block of 16, 256, 4096.
class History
{
public:
    static constexpr int maxChannels = 8;
    // The view asks for at most this many columns; the levels' lengths are sized for it.
    static constexpr int maxColumns = 4096;

    History();

    void clear();
    // Channels are only ever added; each grows to its share of the bound as samples come.
    void setChannelCount(int count);
    int channelCount() const { return channels; }
    // One sample of every channel; NaN where a channel had no value.
    void append(const float *values);
    std::int64_t sampleCount() const { return count; }

    // The smallest and largest value in each of `columnCount` columns that split the samples
    // [first, first + span) evenly; a column without a value gets lo > hi. Every sample is in one
    // column, so no extreme is lost: the cost is at most 16 blocks a column.
    void columns(int channel, double first, double span, int columnCount, float *lo,
                 float *hi) const;
    // The oldest sample that columns of `step` samples (raw ones below 2) still have at their own
    // resolution; an older one is shown blockier, or not at all.
    std::int64_t firstHeld(double step) const;
    // A raw sample, if it is still held and the channel had one.
    bool value(int channel, std::int64_t index, float *out) const;

    std::size_t memoryBytes() const;

private:
    struct Level
    {
        int shift; // log2 of the samples in a block
        std::int64_t capacity; // blocks held, a power of 2
        // Slots in use: the rings grow to their capacity as samples come, so that a channel's
        // appearance does not fill megabytes at once.
        std::size_t used = 0;
        std::vector<float> lo[maxChannels];
        std::vector<float> hi[maxChannels]; // empty on the raw level
    };
    bool holds(const Level &level, std::int64_t firstBlock) const;
    std::size_t levelFor(double step) const;

    std::vector<Level> levels;
    int channels = 0;
    std::int64_t count = 0;
};

#endif // HISTORY_H
