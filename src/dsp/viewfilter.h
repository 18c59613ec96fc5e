#ifndef VIEWFILTER_H
#define VIEWFILTER_H

#include <limits>
#include <vector>

// The processed view's filters for every channel, designed for one sample rate: a causal
// Butterworth high-pass and a comb of notches at the mains frequency and its harmonics.
// A channel's level at its first sample after a reset is taken out before the sections and put
// back as the chain passes it at 0 Hz (not at all through a high-pass, whole through notches):
// raw ADC counts sit on offsets of thousands, which would otherwise start the view with a step
// and fill the sections' state.
class ViewFilter
{
public:
    struct Settings
    {
        double highPassHz = 0; // 0: off
        double mainsHz = 0; // 0: off
        bool operator==(const Settings &o) const
        {
            return highPassHz == o.highPassHz && mainsHz == o.mainsHz;
        }
        bool operator!=(const Settings &o) const { return !(*this == o); }
    };

    // The lowest rate a filter at `hz` runs at: its frequency well below the Nyquist frequency.
    static double rateNeeded(double hz) { return 2.5 * hz; }
    // The notches' width, in Hz at their -3 dB points.
    static constexpr double notchWidthHz = 3;
    // Harmonics notched at most: up to 1.5 kHz at 50 Hz, far above EMG's band, and each a section
    // run for every sample (at 57,000 samples/s, a notch up to Nyquist would be 570 of them).
    static constexpr int maxNotches = 30;

    ViewFilter();
    ~ViewFilter();
    ViewFilter(const ViewFilter &) = delete;
    ViewFilter &operator=(const ViewFilter &) = delete;

    // Designs the filters that the rate allows, for `channels` channels, each from rest. A filter
    // the rate does not allow (or an unknown rate, 0) is left out: nothing is filtered at a rate
    // that was not measured.
    void design(const Settings &settings, double rate, int channels);
    bool highPassOn() const { return highPass; }
    bool mainsOn() const { return mainsNotches > 0; }
    bool any() const { return !filters.empty(); }
    double rate() const { return designRate; }
    int notchCount() const { return mainsNotches; }

    // Beyond this a sample is taken for a corrupted line, not a measurement: through the
    // sections it would ring for seconds (and overflow float ones for good).
    static constexpr float largest = std::numeric_limits<float>::max() / 4;

    // The next sample of a channel through its filters. A sample beyond `largest` or not a
    // number, and an output that a float cannot hold, give NaN and start that channel's
    // filters again from rest.
    float process(int channel, float x);
    // Starts a channel's filters again from rest, its level taken afresh.
    void reset(int channel);

private:
    struct Chain
    {
        std::vector<double> state; // two a section
        double level = 0;
        bool levelTaken = false;
    };
    // Each section's b0 b1 b2 a1 a2 (a0 is 1).
    std::vector<double> sections;
    std::vector<Chain> filters;
    bool highPass = false;
    int mainsNotches = 0;
    double designRate = 0;
};

#endif // VIEWFILTER_H
