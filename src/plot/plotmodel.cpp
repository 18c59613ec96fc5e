#include "plot/plotmodel.h"

#include <algorithm>
#include <cmath>
#include <limits>

PlotModel::PlotModel()
    : parser([this](const LineParser::Field *fields, int count, int total) {
        addLine(fields, count, total);
    })
{
    clock.start();
}

std::int64_t PlotModel::now() const
{
    return testClock ? testClock() : clock.elapsed();
}

void PlotModel::append(const QByteArray &data)
{
    const std::int64_t before = samples.sampleCount();
    parser.feed(data.constData(), static_cast<std::size_t>(data.size()));
    bytes += data.size();
    if (!data.isEmpty())
        lastByte = data.back();
    meter.add(samples.sampleCount() - before, now());
}

void PlotModel::clear()
{
    parser.reset();
    samples.clear();
    meter.clear();
    channels.clear();
    tooMany = false;
    bytes = 0;
    lastByte = '\n';
    lastRate = 0;
}

double PlotModel::rate() const
{
    const double r = meter.rate(now());
    if (r > 0)
        lastRate = r;
    return r;
}

double PlotModel::axisRate(double windowSeconds) const
{
    rate();
    if (lastRate > 0)
        return lastRate;
    // Before a rate is known, what arrived fills the window.
    return std::max(1.0, double(samples.sampleCount()) / windowSeconds);
}

PlotModel::Frame PlotModel::frame(double windowSeconds) const
{
    Frame f;
    f.end = samples.sampleCount();
    f.axisRate = axisRate(windowSeconds);
    f.rate = rate();
    f.channels = channelCount();
    std::copy(std::begin(latestValues), std::end(latestValues), std::begin(f.latest));
    return f;
}

void PlotModel::addLine(const LineParser::Field *fields, int count, int total)
{
    if (total > count)
        tooMany = true;
    float values[History::maxChannels];
    std::fill(std::begin(values), std::end(values), std::numeric_limits<float>::quiet_NaN());
    bool any = false;
    for (int i = 0; i < count; ++i) {
        const LineParser::Field &f = fields[i];
        const int channel = channels.channelFor(f);
        if (channel < 0) {
            tooMany = true;
            continue;
        }
        if (channel >= samples.channelCount())
            samples.setChannelCount(channels.count());
        // A double beyond float's range has no float; the plot shows it at the edge of what it can.
        const double max = std::numeric_limits<float>::max();
        values[channel] = static_cast<float>(std::clamp(f.value, -max, max));
        latestValues[channel] = f.value;
        any = true;
    }
    if (any)
        samples.append(values);
}
