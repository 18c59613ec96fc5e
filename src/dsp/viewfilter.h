#ifndef VIEWFILTER_H
#define VIEWFILTER_H

#include <memory>
#include <vector>

// The processed view's filters for every channel, designed for one sample rate: a causal
// Butterworth high-pass and a comb of notches at the mains frequency and its harmonics.
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

    // The next sample of a channel through its filters.
    float process(int channel, float x);

private:
    struct Chain;
    std::vector<std::unique_ptr<Chain>> filters;
    bool highPass = false;
    int mainsNotches = 0;
    double designRate = 0;
};

#endif // VIEWFILTER_H
