#include "dsp/viewfilter.h"

#include <complex>
// liquid.h picks std::complex for C++ once <complex> is in.
#include <liquid/liquid.h>

#include <cmath>
#include <cstring>

namespace {

constexpr double kPi = 3.14159265358979323846;
// Fourth order: 24 dB an octave below the cut-off, as EMG's usual high-pass.
constexpr unsigned kHighPassOrder = 4;

// liquid's complex is std::complex<float> under libstdc++ and a struct of two floats elsewhere
// (MSVC): the same two floats either way.
static_assert(sizeof(liquid_float_complex) == 2 * sizeof(float), "two floats");
liquid_float_complex complexOf(double re, double im)
{
    const float parts[2] = {float(re), float(im)};
    liquid_float_complex z;
    std::memcpy(static_cast<void *>(&z), parts, sizeof z);
    return z;
}

} // namespace

// One channel's second-order sections, run by liquid-dsp.
struct ViewFilter::Chain
{
    explicit Chain(iirfilt_rrrf f)
        : filter(f)
    { }
    ~Chain() { iirfilt_rrrf_destroy(filter); }
    Chain(const Chain &) = delete;
    Chain &operator=(const Chain &) = delete;
    iirfilt_rrrf filter;
};

ViewFilter::ViewFilter() = default;
ViewFilter::~ViewFilter() = default;

void ViewFilter::design(const Settings &settings, double rate, int channels)
{
    filters.clear();
    highPass = false;
    mainsNotches = 0;
    designRate = rate;
    if (!(rate > 0))
        return;
    std::vector<float> b;
    std::vector<float> a;
    if (settings.highPassHz > 0 && rate >= rateNeeded(settings.highPassHz)) {
        b.resize(3 * kHighPassOrder / 2);
        a.resize(3 * kHighPassOrder / 2);
        liquid_iirdes(LIQUID_IIRDES_BUTTER, LIQUID_IIRDES_HIGHPASS, LIQUID_IIRDES_SOS,
                      kHighPassOrder, float(settings.highPassHz / rate), 0, 1, 60, b.data(),
                      a.data());
        highPass = true;
    }
    if (settings.mainsHz > 0 && rate >= rateNeeded(settings.mainsHz)) {
        // liquid's band-stop, from a low-pass prototype, is far too wide for a mains line (a
        // 50 Hz one takes 8 dB off 120 Hz): each notch is a pair of zeros on the unit circle at
        // a harmonic with its poles just inside, which liquid turns into a section.
        const double r = 1 - kPi * notchWidthHz / rate;
        for (int h = 1; h <= maxNotches && h * settings.mainsHz < rate / 2 - notchWidthHz; ++h) {
            const double w = 2 * kPi * h * settings.mainsHz / rate;
            liquid_float_complex zeros[2]
                = {complexOf(std::cos(w), std::sin(w)), complexOf(std::cos(w), -std::sin(w))};
            liquid_float_complex poles[2] = {complexOf(r * std::cos(w), r * std::sin(w)),
                                             complexOf(r * std::cos(w), -r * std::sin(w))};
            // Unity gain at 0 Hz: (1 - 2cos w + 1) / (1 - 2r cos w + r²).
            const double gain = (1 - 2 * r * std::cos(w) + r * r) / (2 - 2 * std::cos(w));
            float sb[3];
            float sa[3];
            iirdes_dzpk2sosf(zeros, poles, 2, complexOf(gain, 0), sb, sa);
            b.insert(b.end(), sb, sb + 3);
            a.insert(a.end(), sa, sa + 3);
            ++mainsNotches;
        }
    }
    if (b.empty())
        return;
    for (int c = 0; c < channels; ++c)
        filters.push_back(std::make_unique<Chain>(
            iirfilt_rrrf_create_sos(b.data(), a.data(), unsigned(b.size() / 3))));
}

float ViewFilter::process(int channel, float x)
{
    if (channel < 0 || channel >= int(filters.size()))
        return x;
    float y = 0;
    iirfilt_rrrf_execute(filters[std::size_t(channel)]->filter, x, &y);
    return y;
}
