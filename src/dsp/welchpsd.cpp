#include "dsp/welchpsd.h"

#include <complex>
// liquid.h picks std::complex for C++ once <complex> is in.
#include <liquid/liquid.h>

#include <algorithm>
#include <cmath>

namespace {

// A line's power lies in the bins of the window's main lobe: Hann puts all but a few per cent
// within one bin of its nearest.
constexpr int kLineBins = 1;
// 0 Hz and its main lobe are the offset, not a signal.
constexpr int kOffsetBins = 2;

} // namespace

struct Spectrum::Periodogram
{
    spgramf q = nullptr;
};

Spectrum::Spectrum()
    : periodogram(new Periodogram)
{ }

Spectrum::~Spectrum()
{
    if (periodogram->q)
        spgramf_destroy(periodogram->q);
    delete periodogram;
}

int Spectrum::sizeFor(double rate, std::int64_t samples)
{
    if (!(rate > 0))
        return 0;
    int size = smallestSize;
    while (size < largestSize && rate / size > 2.0 && 2 * std::int64_t(size) <= samples)
        size *= 2;
    return std::int64_t(size) <= samples ? size : 0;
}

void Spectrum::makePeriodogram(int size)
{
    if (periodogram->q && nfft == size)
        return;
    if (periodogram->q)
        spgramf_destroy(periodogram->q);
    // A transform every `size` samples over the last `size`: each segment written is one.
    periodogram->q
        = spgramf_create(unsigned(size), LIQUID_WINDOW_HANN, unsigned(size), unsigned(size));
    spgramf_set_alpha(periodogram->q, -1); // the plain mean of the segments
    nfft = size;
    samples.assign(std::size_t(size), 0.f);
    shifted.assign(std::size_t(size), 0.f);
}

bool Spectrum::compute(const std::function<bool(std::int64_t, float *)> &sample, std::int64_t end,
                       std::int64_t count, double rate)
{
    const int size = sizeFor(rate, count);
    used = 0;
    if (size == 0) {
        bins.clear();
        return false;
    }
    makePeriodogram(size);
    hz = rate / size;
    spgramf_reset(periodogram->q);
    // Segments spread evenly over the samples: overlapping when they are few, apart when many.
    const std::int64_t first = end - count;
    const std::int64_t room = count - size;
    const int segments = int(std::min<std::int64_t>(maxSegments, 1 + room / (size / 2)));
    for (int s = 0; s < segments; ++s) {
        const std::int64_t start = first + (segments > 1 ? room * s / (segments - 1) : room);
        // The segment's mean goes first: an offset's leakage would hide the low bins.
        double mean = 0;
        int held = 0;
        for (int k = 0; k < size; ++k) {
            float v = 0;
            if (sample(start + k, &v) && std::isfinite(v)) {
                samples[std::size_t(k)] = v;
                mean += v;
                ++held;
            } else {
                samples[std::size_t(k)] = std::nanf("");
            }
        }
        mean = held > 0 ? mean / held : 0;
        for (float &v : samples)
            v = std::isnan(v) ? 0.f : float(v - mean);
        spgramf_write(periodogram->q, samples.data(), unsigned(size));
        ++used;
    }
    spgramf_get_psd_mag(periodogram->q, shifted.data());
    // liquid gives -fs/2 .. fs/2; a real signal's two halves are alike, and the upper is kept.
    const auto half = std::size_t(size) / 2;
    bins.assign(half + 1, 0.f);
    for (std::size_t i = 0; i < half; ++i)
        bins[i] = shifted[half + i];
    bins[half] = shifted[0];
    return true;
}

double Spectrum::totalPower() const
{
    double total = 0;
    for (std::size_t i = kOffsetBins; i < bins.size(); ++i)
        total += bins[i];
    return total;
}

double Spectrum::linePower(double baseHz) const
{
    if (bins.empty() || !(hz > 0))
        return 0;
    const int last = int(bins.size()) - 1;
    double power = 0;
    int covered = kOffsetBins - 1; // each bin counts once, for the harmonic that reaches it first
    for (int h = 1; h * baseHz <= last * hz; ++h) {
        const int centre = int(std::lround(h * baseHz / hz));
        for (int i = std::max(covered + 1, centre - kLineBins);
             i <= std::min(last, centre + kLineBins); ++i) {
            power += bins[std::size_t(i)];
            covered = i;
        }
    }
    return power;
}

Spectrum::Mains Spectrum::mains() const
{
    const double total = totalPower();
    if (!(total > 0))
        return {};
    const double at50 = linePower(50);
    const double at60 = linePower(60);
    return at60 > at50 ? Mains{60, at60 / total} : Mains{50, at50 / total};
}
