// The plot's processed views: stalls and CPU with the filtered envelope or the spectrum shown,
// what a spectrum refresh costs, and what the filters cost a sample.

#include "bench.h"

#include "app/mainwindow.h"
#include "plot/plotdock.h"
#include "plot/plotmodel.h"
#include "plot/plotview.h"
#include "plot/psdview.h"
#include "plot/viewprocessor.h"

#include <QAction>
#include <QComboBox>
#include <QImage>
#include <QPushButton>

#include <algorithm>
#include <cmath>

namespace {

using namespace bench;

enum class View { Raw, Envelope, Spectrum };

const char *viewName(View v)
{
    return v == View::Raw ? "raw" : v == View::Envelope ? "envelope" : "spectrum";
}

// The dock's controls as a user sets them: 20 Hz high-pass, 50 Hz notch, 100 ms envelope.
void choose(MainWindow *window, View view)
{
    if (view == View::Envelope) {
        window->findChild<QComboBox *>("plotHighPass")->setCurrentIndex(2);
        window->findChild<QComboBox *>("plotMains")->setCurrentIndex(1);
        auto *show = window->findChild<QComboBox *>("plotShow");
        show->setCurrentIndex(show->findData(100));
    } else if (view == View::Spectrum) {
        window->findChild<QPushButton *>("plotSpectrum")->click();
    }
}

// Lines at `bytesPerSecond` with the plot shown in `view`, beside the console.
void streamCase(const std::string &name, int channels, double bytesPerSecond, View view)
{
    PtyFeeder::Options o;
    o.content = PtyFeeder::Content::Numbers;
    o.channels = channels;
    o.bytesPerSecond = bytesPerSecond;
    auto feeder = openFeeder(o);
    Harness h;
    h.connectTo(feeder->path(), "4000000");
    h.action("actionPlot")->trigger();
    auto *dock = h.mainWindow()->findChild<PlotDock *>();
    runUntil([&] { return dock->isVisible(); }, 10, "plot shown");
    choose(h.mainWindow(), view);
    const Harness::Stream stream = h.timedStream(*feeder, setting("views-seconds"));
    const std::string prefix = "views_" + name + "_" + viewName(view);
    report(prefix, stream);
    if (view == View::Envelope)
        report(prefix + "_caught_up",
               dock->processor().shows() && dock->processor().end() > 0 ? 1 : 0, "bool");
}

void streams()
{
    for (View view : {View::Raw, View::Envelope, View::Spectrum}) {
        streamCase("8ch_10000", 8, 10000.0 * double(PtyFeeder::numberLineBytes(8)), view);
        streamCase("numeric_400k", 1, 400000, view);
    }
}

// A model with 3 s of `channels` at `rate` in deliveries every 10 ms, on a clock of its own.
std::unique_ptr<PlotModel> filledModel(int channels, double rate)
{
    auto model = std::make_unique<PlotModel>();
    static std::int64_t clock = 0;
    clock = 0;
    model->setClock([] { return clock; });
    PtyFeeder::Options o;
    o.content = PtyFeeder::Content::Numbers;
    o.channels = channels;
    const std::size_t lineBytes = PtyFeeder::numberLineBytes(channels);
    QByteArray bytes(int(std::size_t(rate / 100) * lineBytes), '\0');
    for (std::uint64_t tick = 0; tick < 300; ++tick) {
        PtyFeeder::fill(o, tick * std::uint64_t(bytes.size()), bytes.data(),
                        std::size_t(bytes.size()));
        clock = std::int64_t(tick * 10);
        model->append(bytes);
    }
    return model;
}

// One refresh of the spectrum (8 Welch estimates) and its paint at 1,000 px.
void spectrumFrames()
{
    for (double rate : {1000.0, 10000.0, 100000.0}) {
        auto model = filledModel(8, rate);
        SpectrumView view(model.get());
        view.resize(1080, 400);
        QImage image(view.size(), QImage::Format_ARGB32_Premultiplied);
        view.refresh();
        view.render(&image);
        const int frames = 20;
        double refreshCpu = 0;
        double paintCpu = 0;
        for (int i = 0; i < frames; ++i) {
            const double c0 = threadCpuSeconds();
            view.refresh();
            const double c1 = threadCpuSeconds();
            view.render(&image);
            refreshCpu += c1 - c0;
            paintCpu += threadCpuSeconds() - c1;
        }
        const std::string prefix = "views_spectrum_8ch_" + std::to_string(int(rate)) + "_per_s";
        report(prefix + "_refresh", refreshCpu * 1000 / frames, "ms");
        report(prefix + "_paint", paintCpu * 1000 / frames, "ms");
        report(prefix + "_fft_size", view.spectrum(0).size(), "samples");
    }
}

// The filters' and envelope's cost a sample and channel, and the longest step after a choice.
void filterCost()
{
    for (double rate : {1000.0, 10000.0}) {
        auto model = filledModel(8, rate);
        ViewProcessor processor;
        ViewProcessor::Settings s;
        s.filter = {20, 50};
        s.envelope = true;
        processor.setSettings(s);
        double longest = 0;
        const double cpu0 = threadCpuSeconds();
        while (processor.end() < model->history().sampleCount() || !processor.shows()) {
            const double c = threadCpuSeconds();
            processor.step(*model, 5);
            longest = std::max(longest, threadCpuSeconds() - c);
        }
        const double cpu = threadCpuSeconds() - cpu0;
        const double samples = double(processor.end() - processor.offset()) * 8;
        const std::string prefix = "views_filter_8ch_" + std::to_string(int(rate)) + "_per_s";
        report(prefix + "_per_sample", cpu * 1e9 / samples, "ns");
        report(prefix + "_longest_step", longest * 1000, "ms");
    }
}

const Registered
    registeredStreams({"views-streams",
                       "views",
                       {{"views-seconds", "Length of each stream case with a view shown", 20, 3}},
                       streams});
const Registered registeredSpectrum({"views-spectrum", "views", {}, spectrumFrames});
const Registered registeredFilters({"views-filters", "views", {}, filterCost});

} // namespace
