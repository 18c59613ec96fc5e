#include "plot/history.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr float kEmptyLo = std::numeric_limits<float>::infinity();
constexpr float kEmptyHi = -std::numeric_limits<float>::infinity();

} // namespace

History::History()
{
    // Raw for windows up to 16 samples a column; each coarser level covers its windows up to
    // maxColumns columns (60 s up to about 4 million samples a second). 20 MB for 8 channels.
    levels.push_back(Level{0, std::int64_t(1) << 18, 0, {}, {}});
    for (int shift : {4, 8, 12})
        levels.push_back(Level{shift, std::int64_t(1) << 16, 0, {}, {}});
}

void History::clear()
{
    count = 0;
    channels = 0;
    for (Level &level : levels) {
        level.used = 0;
        for (int c = 0; c < maxChannels; ++c) {
            std::vector<float>().swap(level.lo[c]);
            std::vector<float>().swap(level.hi[c]);
        }
    }
}

void History::setChannelCount(int newCount)
{
    newCount = std::min(newCount, maxChannels);
    for (int c = channels; c < newCount; ++c) {
        for (Level &level : levels) {
            // Samples from before the channel appeared hold no value.
            if (level.shift == 0) {
                level.lo[c].assign(level.used, std::numeric_limits<float>::quiet_NaN());
            } else {
                level.lo[c].assign(level.used, kEmptyLo);
                level.hi[c].assign(level.used, kEmptyHi);
            }
        }
    }
    channels = std::max(channels, newCount);
}

void History::append(const float *values)
{
    const std::int64_t i = count++;
    for (Level &level : levels) {
        const std::int64_t block = i >> level.shift;
        const auto slot = static_cast<std::size_t>(block & (level.capacity - 1));
        if (slot == level.used) {
            // Blocks come in order, so a ring that is not yet full grows by its next slot.
            ++level.used;
            for (int c = 0; c < channels; ++c) {
                level.lo[c].push_back(level.shift == 0 ? values[c] : kEmptyLo);
                if (level.shift != 0)
                    level.hi[c].push_back(kEmptyHi);
            }
        }
        if (level.shift == 0) {
            for (int c = 0; c < channels; ++c)
                level.lo[c][slot] = values[c];
            continue;
        }
        const bool fresh = (i & ((std::int64_t(1) << level.shift) - 1)) == 0;
        for (int c = 0; c < channels; ++c) {
            float &lo = level.lo[c][slot];
            float &hi = level.hi[c][slot];
            if (fresh) {
                lo = kEmptyLo;
                hi = kEmptyHi;
            }
            const float v = values[c];
            if (std::isnan(v))
                continue;
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    }
}

bool History::holds(const Level &level, std::int64_t firstBlock) const
{
    if (count == 0)
        return false;
    const std::int64_t newest = (count - 1) >> level.shift;
    return firstBlock > newest - level.capacity;
}

void History::columns(int channel, double first, double span, int columnCount, float *lo,
                      float *hi) const
{
    std::fill(lo, lo + columnCount, kEmptyLo);
    std::fill(hi, hi + columnCount, kEmptyHi);
    if (channel < 0 || channel >= channels || columnCount <= 0 || span <= 0)
        return;
    const double step = span / columnCount;
    auto start
        = [&](int column) { return static_cast<std::int64_t>(std::floor(first + column * step)); };
    const std::size_t finest = levelFor(step);

    for (int column = 0; column < columnCount; ++column) {
        const std::int64_t a = std::max<std::int64_t>(start(column), 0);
        const std::int64_t b = std::min(start(column + 1), count);
        if (a >= b)
            continue;
        // Older than a level keeps: a coarser one still has it, blockier (after a long pause).
        for (std::size_t l = finest; l < levels.size(); ++l) {
            const Level &level = levels[l];
            const std::int64_t size = std::int64_t(1) << level.shift;
            // A block belongs to the column that holds its first sample.
            // The left edge's column also takes the block that reaches into it from outside.
            const std::int64_t firstBlock
                = column == 0 ? a >> level.shift : (a + size - 1) >> level.shift;
            const std::int64_t endBlock = (b + size - 1) >> level.shift;
            if (firstBlock >= endBlock)
                break;
            if (!holds(level, firstBlock))
                continue;
            float l0 = kEmptyLo;
            float h0 = kEmptyHi;
            const std::vector<float> &los = level.lo[channel];
            const std::vector<float> &his = level.shift == 0 ? los : level.hi[channel];
            for (std::int64_t k = firstBlock; k < endBlock; ++k) {
                const auto slot = static_cast<std::size_t>(k & (level.capacity - 1));
                const float vl = los[slot];
                if (std::isnan(vl))
                    continue;
                l0 = std::min(l0, vl);
                h0 = std::max(h0, his[slot]);
            }
            lo[column] = l0;
            hi[column] = h0;
            break;
        }
    }
}

std::size_t History::levelFor(double step) const
{
    // The coarsest level whose blocks are no longer than a column, so that every column has one.
    std::size_t finest = 0;
    while (finest + 1 < levels.size()
           && double(std::int64_t(1) << levels[finest + 1].shift) <= step)
        ++finest;
    return finest;
}

std::int64_t History::firstHeld(double step) const
{
    if (count == 0)
        return 0;
    const Level &level = levels[levelFor(step)];
    const std::int64_t newest = (count - 1) >> level.shift;
    return std::max<std::int64_t>(0, newest - level.capacity + 1) << level.shift;
}

bool History::value(int channel, std::int64_t index, float *out) const
{
    const Level &raw = levels.front();
    if (channel < 0 || channel >= channels || index < 0 || index >= count
        || index <= count - 1 - raw.capacity)
        return false;
    const float v = raw.lo[channel][static_cast<std::size_t>(index & (raw.capacity - 1))];
    if (std::isnan(v))
        return false;
    *out = v;
    return true;
}

std::size_t History::memoryBytes() const
{
    std::size_t bytes = 0;
    for (const Level &level : levels) {
        for (int c = 0; c < maxChannels; ++c)
            bytes += (level.lo[c].capacity() + level.hi[c].capacity()) * sizeof(float);
    }
    return bytes;
}
