#include "generators.h"
#include "simulateddevice.h"

#include <cmath>

namespace devsim {
namespace detail {

std::uint64_t Rng::next()
{
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double Rng::uniform()
{
    return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0);
}

double Rng::gaussian()
{
    // Irwin-Hall with 4 terms: close enough to normal and free of libm differences.
    double sum = uniform() + uniform() + uniform() + uniform();
    return (sum - 2.0) * 1.7320508075688772;
}

namespace {

const char *const kWords[] = {"Tarvex", "muscle", "signal", "EMG",    "sample", "stream", "biceps",
                              "42",     "-17",    "ok",     "serial", "test",   "A1",     "z"};
// Spelled as bytes so the source encoding cannot change them.
const char *const kTwoByte[] = {"\xC3\xA9" /* é */, "\xC2\xB5" /* µ */, "\xC3\x9F" /* ß */,
                                "\xC3\xB1" /* ñ */, "\xCE\xA9" /* Ω */, "\xC2\xB1" /* ± */};
const char *const kThreeByte[]
    = {"\xE2\x82\xAC" /* € */, "\xE2\x86\x92" /* → */, "\xE2\x9C\x93" /* ✓ */,
       "\xE2\x89\x88" /* ≈ */, "\xE4\xB8\xAD" /* 中 */};
const char *const kFourByte[] = {"\xF0\x9F\x98\x80" /* 😀 */, "\xF0\x9F\x8E\xB5" /* 🎵 */,
                                 "\xF0\x9D\x84\x9E" /* 𝄞 */, "\xF0\x9F\x9A\x80" /* 🚀 */};

template<std::size_t N> const char *pick(Rng &rng, const char *const (&list)[N])
{
    return list[rng.below(static_cast<std::uint32_t>(N))];
}

} // namespace

PatternStream::PatternStream(std::uint32_t seed, std::uint64_t limit)
    : rng(0x7465737450617474ull ^ seed)
    , limit(limit)
{ }

void PatternStream::nextUnit()
{
    unitPos = 0;
    if (wordPos < word.size()) {
        unit.assign(1, word[wordPos++]);
    } else {
        const std::uint32_t roll = rng.below(100);
        if (roll < 45) {
            word = pick(rng, kWords);
            word += ' ';
            wordPos = 1;
            unit.assign(1, word[0]);
        } else if (roll < 55) {
            unit = pick(rng, kTwoByte);
        } else if (roll < 65) {
            unit = pick(rng, kThreeByte);
        } else if (roll < 72) {
            unit = pick(rng, kFourByte);
        } else if (roll < 79) {
            unit.assign(1, '\0');
        } else if (roll < 88) {
            unit = "\r\n";
        } else {
            unit.assign(1, static_cast<char>(0x21 + rng.below(0x7F - 0x21)));
        }
    }
    // Only the tail depends on the limit, so every testPattern(N) is a near-prefix of a longer one.
    if (limit != 0 && produced + unit.size() > limit)
        unit.assign(static_cast<std::size_t>(limit - produced), '.');
}

void PatternStream::append(std::string &out, std::size_t bytes)
{
    while (bytes > 0 && (limit == 0 || produced < limit)) {
        if (unitPos == unit.size())
            nextUnit();
        out += unit[unitPos++];
        ++produced;
        --bytes;
    }
}

EmgSignal::EmgSignal(std::uint32_t seed, int sampleRate)
    : rng(0x656D675369676E61ull ^ seed)
    , rate(sampleRate > 0 ? sampleRate : 1000)
{
    burstStart = static_cast<std::uint64_t>((0.3 + 0.7 * rng.uniform()) * rate);
    burstLength = static_cast<std::uint64_t>((0.3 + 0.9 * rng.uniform()) * rate) + 1;
    burstPeak = 150 + 450 * rng.uniform();
}

void EmgSignal::planBurst()
{
    const double gapSeconds = 0.8 + 1.7 * rng.uniform();
    burstStart = burstStart + burstLength + static_cast<std::uint64_t>(gapSeconds * rate);
    burstLength = static_cast<std::uint64_t>((0.3 + 0.9 * rng.uniform()) * rate) + 1;
    burstPeak = 150 + 450 * rng.uniform();
}

int EmgSignal::next()
{
    constexpr double kPi = 3.14159265358979323846;
    if (sampleIndex >= burstStart + burstLength)
        planBurst();
    double envelope = 0;
    if (sampleIndex >= burstStart) {
        const double s = std::sin(kPi * static_cast<double>(sampleIndex - burstStart)
                                  / static_cast<double>(burstLength));
        envelope = s * s;
    }
    // Light smoothing so the activity looks band-limited rather than white.
    smooth = 0.7 * rng.gaussian() + 0.3 * smooth;
    const double hum = 4.0 * std::sin(2 * kPi * 50.0 * static_cast<double>(sampleIndex) / rate);
    const double value = smooth * (6.0 + burstPeak * envelope) + hum;
    ++sampleIndex;
    return static_cast<int>(std::lround(value));
}

} // namespace detail

std::string testPattern(std::size_t bytes, std::uint32_t seed)
{
    std::string out;
    if (bytes == 0)
        return out;
    out.reserve(bytes);
    detail::PatternStream(seed, bytes).append(out, bytes);
    return out;
}

} // namespace devsim
