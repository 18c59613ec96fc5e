#ifndef WELCHPSD_H
#define WELCHPSD_H

#include <cstdint>
#include <functional>
#include <vector>

// Welch's power spectral density of one channel's last samples, through liquid-dsp's
// periodogram: at most `maxSegments` Hann-windowed transforms of a power-of-two size, so that its
// cost is fixed by that size whatever the rate; and the share of the power in the mains lines.
class Spectrum
{
public:
    static constexpr int maxSegments = 8;
    // Bins of at most 2 Hz tell 50 Hz from 60 Hz; larger transforms cost more than they show.
    static constexpr int largestSize = 8192;
    static constexpr int smallestSize = 64;

    // The transform's size for `samples` at `rate`: bins of 2 Hz or finer where the samples allow,
    // and at least two segments; 0 when there are too few samples.
    static int sizeFor(double rate, std::int64_t samples);

    struct Mains
    {
        double hz = 0; // 50 or 60; 0 when the signal holds no power
        double share = 0; // of the power above 0 Hz, 0..1
    };

    Spectrum();
    ~Spectrum();
    Spectrum(const Spectrum &) = delete;
    Spectrum &operator=(const Spectrum &) = delete;

    // The samples [end - count, end) of one channel: `sample(i, &v)` gives sample i, false where
    // there is none (a gap counts as 0). Returns false when there are too few.
    bool compute(const std::function<bool(std::int64_t, float *)> &sample, std::int64_t end,
                 std::int64_t count, double rate);

    // Power per bin from 0 Hz to the Nyquist frequency (size / 2 + 1 bins), linear.
    const std::vector<float> &power() const { return bins; }
    double binHz() const { return hz; }
    int size() const { return nfft; }
    int segments() const { return used; }
    // Which of 50 and 60 Hz carries more power in its lines, and its share.
    Mains mains() const;
    // The power in the lines at `baseHz` and its harmonics, and above 0 Hz in all.
    double linePower(double baseHz) const;
    double totalPower() const;

private:
    void makePeriodogram(int size);

    struct Periodogram;
    Periodogram *periodogram = nullptr;
    std::vector<float> samples;
    std::vector<float> shifted;
    std::vector<float> bins;
    double hz = 0;
    int nfft = 0;
    int used = 0;
};

#endif // WELCHPSD_H
