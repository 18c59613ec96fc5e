#include "dsp/viewfilter.h"

#include <complex>
// liquid.h picks std::complex for C++ once <complex> is in.
#include <liquid/liquid.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double kPi = 3.14159265358979323846;
// Fourth order: 24 dB an octave below the cut-off, as EMG's usual high-pass.
constexpr unsigned kHighPassOrder = 4;
constexpr int kCoefficients = 5;

} // namespace

ViewFilter::ViewFilter() = default;
ViewFilter::~ViewFilter() = default;

void ViewFilter::design(const Settings &settings, double rate, int channels)
{
    filters.clear();
    sections.clear();
    highPass = false;
    mainsNotches = 0;
    designRate = rate;
    if (!(rate > 0))
        return;
    auto addSection = [this](double b0, double b1, double b2, double a0, double a1, double a2) {
        for (double c : {b0 / a0, b1 / a0, b2 / a0, a1 / a0, a2 / a0})
            sections.push_back(c);
    };
    if (settings.highPassHz > 0 && rate >= rateNeeded(settings.highPassHz)) {
        float b[3 * kHighPassOrder / 2];
        float a[3 * kHighPassOrder / 2];
        liquid_iirdes(LIQUID_IIRDES_BUTTER, LIQUID_IIRDES_HIGHPASS, LIQUID_IIRDES_SOS,
                      kHighPassOrder, float(settings.highPassHz / rate), 0, 1, 60, b, a);
        for (std::size_t k = 0; k < kHighPassOrder / 2; ++k)
            addSection(b[3 * k], b[3 * k + 1], b[3 * k + 2], a[3 * k], a[3 * k + 1], a[3 * k + 2]);
        highPass = true;
    }
    if (settings.mainsHz > 0 && rate >= rateNeeded(settings.mainsHz)) {
        // liquid's band-stop, from a low-pass prototype, is far too wide for a mains line (a
        // 50 Hz one takes 8 dB off 120 Hz): each notch is a pair of zeros on the unit circle at
        // a harmonic with its poles just inside. Its coefficients are worked out here in double:
        // rounded to floats, a 50 Hz notch at 57,000 samples/s is off by 0.4 % at 0 Hz.
        const double r = 1 - kPi * notchWidthHz / rate;
        for (int h = 1; h <= maxNotches && h * settings.mainsHz < rate / 2 - notchWidthHz; ++h) {
            const double c = std::cos(2 * kPi * h * settings.mainsHz / rate);
            // Unity gain at 0 Hz: (1 - 2cos w + 1) / (1 - 2r cos w + r²).
            const double gain = (1 - 2 * r * c + r * r) / (2 - 2 * c);
            addSection(gain, -2 * c * gain, gain, 1, -2 * r * c, r * r);
            ++mainsNotches;
        }
    }
    if (sections.empty())
        return;
    Chain rest;
    rest.state.assign(2 * (sections.size() / kCoefficients), 0.0);
    filters.assign(std::size_t(std::max(0, channels)), rest);
}

void ViewFilter::reset(int channel)
{
    if (channel < 0 || channel >= int(filters.size()))
        return;
    Chain &chain = filters[std::size_t(channel)];
    std::fill(chain.state.begin(), chain.state.end(), 0.0);
    chain.levelTaken = false;
}

float ViewFilter::process(int channel, float x)
{
    if (channel < 0 || channel >= int(filters.size()))
        return x;
    constexpr float nan = std::numeric_limits<float>::quiet_NaN();
    if (!(std::abs(x) <= largest)) {
        reset(channel);
        return nan;
    }
    Chain &chain = filters[std::size_t(channel)];
    if (!chain.levelTaken) {
        chain.level = x;
        chain.levelTaken = true;
    }
    // The sections run in double (transposed direct form II), not as liquid's float ones: near
    // 0 Hz their state holds the input times a large gain (up to (rate / 2π·fc)² in a high-pass,
    // 2·10⁵ for 20 Hz at 57,000 samples/s), and even with the level taken out, a baseline swing
    // of 300 through the 50 Hz notches at 57,000 samples/s left 3 % of a 10-count tone's RMS as
    // rounding error in floats.
    double v = double(x) - chain.level;
    double *s = chain.state.data();
    for (std::size_t k = 0; k < sections.size(); k += kCoefficients, s += 2) {
        const double *c = sections.data() + k;
        const double y = c[0] * v + s[0];
        s[0] = c[1] * v - c[3] * y + s[1];
        s[1] = c[2] * v - c[4] * y;
        v = y;
    }
    const float y = float(v + (highPass ? 0.0 : chain.level));
    if (!(std::abs(y) < std::numeric_limits<float>::max())) {
        reset(channel);
        return nan;
    }
    return y;
}
