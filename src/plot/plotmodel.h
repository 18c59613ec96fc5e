#ifndef PLOTMODEL_H
#define PLOTMODEL_H

#include "plot/channelmap.h"
#include "plot/history.h"
#include "plot/lineparser.h"
#include "plot/ratemeter.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <QVector>

// The numbers read from the stream since the last clear: channels by label or position, their
// history, latest values and the sample rate.
class PlotModel
{
public:
    // What one frame shows of the model; a paused view keeps the one it took.
    struct Frame
    {
        std::int64_t end = 0; // the samples taken in
        double axisRate = 0; // for the time axis
        double rate = 0; // measured, for the legend
        int channels = 0;
        double latest[History::maxChannels] = {};
    };

    PlotModel();

    // The bytes are only read.
    void append(const QByteArray &data);
    void clear();
    // A gap in the stream: the line it cut is not joined to what comes after it.
    void breakLine() { parser.breakLine(); }

    const History &history() const { return samples; }
    // The bytes read since the last clear, and whether the last of them ended a line.
    std::int64_t bytesRead() const { return bytes; }
    bool atLineEnd() const { return lastByte == '\n' || lastByte == '\r'; }
    int channelCount() const { return samples.channelCount(); }
    QString channelName(int channel) const { return channels.name(channel); }
    double latest(int channel) const { return latestValues[channel]; }
    // More values in a line, or more labels, than there are channels to show.
    bool tooManyChannels() const { return tooMany; }
    // Measured over the last seconds; 0 when nothing arrives.
    double rate() const;
    // The rate last measured, kept once the samples stop; 0 before any was.
    double measuredRate() const
    {
        rate();
        return lastRate;
    }
    // For the time axis: the rate last measured, or a guess until one is.
    double axisRate(double windowSeconds) const;
    Frame frame(double windowSeconds) const;

    // Milliseconds on the model's clock; tests may set it.
    std::int64_t now() const;
    void setClock(std::int64_t (*clock)()) { testClock = clock; }

private:
    void addLine(const LineParser::Field *fields, int count, int total);

    LineParser parser;
    History samples;
    RateMeter meter;
    ChannelMap channels;
    double latestValues[History::maxChannels] = {};
    bool tooMany = false;
    std::int64_t bytes = 0;
    char lastByte = '\n';
    mutable double lastRate = 0;
    QElapsedTimer clock;
    std::int64_t (*testClock)() = nullptr;
};

#endif // PLOTMODEL_H
