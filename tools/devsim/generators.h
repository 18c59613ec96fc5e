#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace devsim {
namespace detail {

// splitmix64: tiny, seedable with any value (0 too) and identical on every platform.
class Rng
{
public:
    explicit Rng(std::uint64_t seed)
        : state(seed)
    { }
    std::uint64_t next();
    std::uint32_t below(std::uint32_t n) { return static_cast<std::uint32_t>(next() % n); }
    double uniform(); // [0, 1)
    double gaussian(); // mean 0, deviation 1

private:
    std::uint64_t state;
};

// The test pattern as a byte stream that can be cut anywhere, even inside a character.
class PatternStream
{
public:
    PatternStream(std::uint32_t seed, std::uint64_t limit); // limit 0: endless
    void append(std::string &out, std::size_t bytes); // never past the limit

private:
    void nextUnit();

    Rng rng;
    std::uint64_t limit;
    std::uint64_t produced = 0;
    std::string unit; // the character (or CRLF) being emitted
    std::size_t unitPos = 0;
    std::string word; // ASCII still to come, one unit per byte
    std::size_t wordPos = 0;
};

// Synthetic surface EMG in microvolts: noise baseline with bursts of muscle activity.
class EmgSignal
{
public:
    EmgSignal(std::uint32_t seed, int sampleRate);
    int next();

private:
    void planBurst();

    Rng rng;
    double rate;
    std::uint64_t sampleIndex = 0;
    std::uint64_t burstStart = 0;
    std::uint64_t burstLength = 0;
    double burstPeak = 0;
    double smooth = 0;
};

} // namespace detail
} // namespace devsim
