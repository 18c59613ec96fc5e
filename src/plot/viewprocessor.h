#ifndef VIEWPROCESSOR_H
#define VIEWPROCESSOR_H

#include "dsp/clipmeter.h"
#include "dsp/runningrms.h"
#include "dsp/viewfilter.h"
#include "plot/history.h"

#include <QCoreApplication>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>

class PlotModel;

// What the plot shows instead of the raw numbers: them high-passed, notched or as an envelope,
// worked out frame by frame from the model's raw history into a history of its own, and where
// each channel clips. It only reads the model; the capture and the raw history stay as they are.
class ViewProcessor
{
    Q_DECLARE_TR_FUNCTIONS(ViewProcessor)

public:
    struct Settings
    {
        ViewFilter::Settings filter;
        bool envelope = false;
        int envelopeMs = 100;
        bool operator==(const Settings &o) const
        {
            return filter == o.filter && envelope == o.envelope && envelopeMs == o.envelopeMs;
        }
        bool operator!=(const Settings &o) const { return !(*this == o); }
        bool any() const { return filter.highPassHz > 0 || filter.mainsHz > 0 || envelope; }
    };

    // A rate this far from the design's designs the filters again.
    static constexpr double redesignShare = 0.02;
    // A frame's work, in samples times filter sections: about 6 ms on a slow core.
    static constexpr std::int64_t workPerStep = 1'000'000;

    void setSettings(const Settings &settings);
    const Settings &settings() const { return wanted; }
    void setAdcLimits(double lo, double hi);
    // The model was cleared: everything starts again from its next samples.
    void clear();

    // Takes in what the model received since the last step, at most workPerStep of work: a new
    // choice or rate starts from the window's left edge and catches up over a few frames.
    // Returns whether anything new is to be shown.
    bool step(const PlotModel &model, double windowSeconds);

    // The processed samples replace the raw ones: a filter or the envelope runs.
    bool shows() const { return running; }
    // Processed sample i is raw sample offset() + i.
    const History &history() const { return processed; }
    std::int64_t offset() const { return first; }
    std::int64_t end() const { return first + processed.sampleCount(); }
    double latest(int channel) const { return latestValues[std::size_t(channel)]; }
    // What runs, or why a chosen filter does not: for the legend and the controls.
    QString stateText() const;
    // A choice the rate refuses, or that waits for a rate; empty when all that was chosen runs.
    QString refusal() const { return refused; }
    bool highPassRefused() const { return wanted.filter.highPassHz > 0 && !filter.highPassOn(); }
    bool mainsRefused() const { return wanted.filter.mainsHz > 0 && !filter.mainsOn(); }
    bool envelopeRefused() const { return wanted.envelope && !(designRate > 0); }
    double rate() const { return designRate; }

    // The share of samples [from, to) of a channel that clipped (raw samples).
    double clipShare(const PlotModel &model, int channel, std::int64_t from, std::int64_t to) const;

private:
    void restart(const PlotModel &model, double windowSeconds, double rate);

    Settings wanted;
    bool changed = true;
    ViewFilter filter;
    std::array<RunningRms, History::maxChannels> envelopes;
    History processed;
    std::int64_t first = 0;
    std::int64_t modelEnd = 0;
    bool running = false;
    double designRate = 0;
    QString refused;
    std::array<double, History::maxChannels> latestValues = {};
    ClipMeter clips;
    std::int64_t clipNext = 0;
};

#endif // VIEWPROCESSOR_H
