// The plot: stalls with it shown beside the console, its memory after a long run at the highest
// rate, what a frame costs as the rate and the window grow, and a sample's way to its pixel.

#include "bench.h"

#include "app/mainwindow.h"
#include "plot/plotdock.h"
#include "plot/plotmodel.h"
#include "plot/plotview.h"

#include <QAction>
#include <QImage>

#include <algorithm>
#include <cmath>

namespace {

using namespace bench;

PlotDock *showPlot(Harness &h)
{
    h.action("actionPlot")->trigger();
    auto *dock = h.mainWindow()->findChild<PlotDock *>();
    runUntil([&] { return dock->view()->isVisible(); }, 10, "plot shown");
    return dock;
}

// Lines of `channels` values at `bytesPerSecond`, with the plot and the console shown.
void stallCase(const char *name, int channels, double bytesPerSecond, bool shown = true)
{
    PtyFeeder::Options o;
    o.content = PtyFeeder::Content::Numbers;
    o.channels = channels;
    o.bytesPerSecond = bytesPerSecond;
    auto feeder = openFeeder(o);
    Harness h;
    h.connectTo(feeder->path(), "4000000");
    auto *dock = h.mainWindow()->findChild<PlotDock *>();
    if (shown)
        showPlot(h);
    const Harness::Stream stream = h.timedStream(*feeder, setting("plot-seconds"));
    const double lines = double(feeder->written()) / double(PtyFeeder::numberLineBytes(channels));
    const std::string prefix = std::string("plot_") + name;
    report(prefix, stream);
    report(prefix + "_lines_per_s", lines / stream.seconds, "lines/s");
    // Every whole line that was written is held (a line cut by the stop is still waiting).
    report(prefix + "_samples_held",
           100 * double(dock->model().history().sampleCount()) / std::max(1.0, std::floor(lines)),
           "%");
}

void stalls()
{
    stallCase("1ch_1000", 1, 1000.0 * double(PtyFeeder::numberLineBytes(1)));
    stallCase("8ch_10000", 8, 10000.0 * double(PtyFeeder::numberLineBytes(8)));
    stallCase("numeric_400k", 1, 400000);
    // With the plot hidden, it only reads the numbers: what drawing adds.
    stallCase("8ch_10000_hidden", 8, 10000.0 * double(PtyFeeder::numberLineBytes(8)), false);
    stallCase("numeric_400k_hidden", 1, 400000, false);
}

// Ten minutes at the highest rate the stall cases send, as fast as the parser takes it.
void memory()
{
    const double minutes = setting("plot-memory-minutes");
    // The feeder's 64-byte text lines hold one number each ("000000000042 cdef...").
    for (const char *kind : {"1ch", "8ch", "text_lines"}) {
        PtyFeeder::Options o;
        o.content = kind[0] == 't' ? PtyFeeder::Content::Lines : PtyFeeder::Content::Numbers;
        o.channels = kind[0] == '8' ? 8 : 1;
        const std::size_t lineBytes
            = kind[0] == 't' ? o.lineBytes : PtyFeeder::numberLineBytes(o.channels);
        // Whole lines of about 4 KB, like a fast adapter's deliveries, made before the clock runs.
        const std::size_t chunk = 4096 / lineBytes * lineBytes;
        std::vector<QByteArray> chunks(256);
        for (std::size_t i = 0; i < chunks.size(); ++i) {
            chunks[i] = QByteArray(int(chunk), '\0');
            PtyFeeder::fill(o, i * chunk, chunks[i].data(), chunk);
        }
        const long long rss0 = residentBytes();
        PlotModel model;
        const std::uint64_t total = std::uint64_t(400000 * 60 * minutes);
        const double cpu0 = threadCpuSeconds();
        std::size_t most = 0;
        std::size_t next = 0;
        for (std::uint64_t offset = 0; offset < total; offset += chunk) {
            model.append(chunks[next++ % chunks.size()]);
            most = std::max(most, model.history().memoryBytes());
        }
        const double cpu = threadCpuSeconds() - cpu0;
        const std::string prefix = std::string("plot_memory_") + kind;
        report(prefix + "_history", double(most) / MB, "MB");
        report(prefix + "_rss_growth", double(residentBytes() - rss0) / MB, "MB");
        report(prefix + "_samples", double(model.history().sampleCount()), "count");
        report(prefix + "_parse_rate", double(total) / MB / cpu, "MB/cpu-s");
    }
}

// A frame's cost at 1,000 px: by channels, rate and window; the rate should not move it.
void frames()
{
    for (int channels : {1, 8}) {
        for (double rate : {100.0, 1000.0, 100000.0}) {
            PlotModel model;
            std::int64_t clock = 0;
            static std::int64_t *now = nullptr;
            now = &clock;
            model.setClock([] { return *now; });
            PtyFeeder::Options o;
            o.content = PtyFeeder::Content::Numbers;
            o.channels = channels;
            const std::size_t lineBytes = PtyFeeder::numberLineBytes(channels);
            const auto perTick = std::max<std::size_t>(1, std::size_t(rate / 100));
            QByteArray bytes(int(perTick * lineBytes), '\0');
            // 70 s of samples in deliveries every 10 ms.
            for (std::uint64_t tick = 0; tick < 7000; ++tick) {
                PtyFeeder::fill(o, tick * bytes.size(), bytes.data(), std::size_t(bytes.size()));
                clock = std::int64_t(tick * 10);
                model.append(bytes);
            }
            PlotView view(&model);
            view.resize(1000 + 80, 400);
            QImage frame(view.size(), QImage::Format_ARGB32_Premultiplied);
            for (double window : {5.0, 60.0}) {
                view.setWindowSeconds(window);
                view.render(&frame);
                const double cpu0 = threadCpuSeconds();
                const int frames = 40;
                for (int i = 0; i < frames; ++i)
                    view.render(&frame);
                const double ms = (threadCpuSeconds() - cpu0) * 1000 / frames;
                report("plot_frame_" + std::to_string(channels) + "ch_" + std::to_string(int(rate))
                           + "_per_s_" + std::to_string(int(window)) + "s",
                       ms, "ms");
            }
        }
    }
}

// From the write that carried a line's last byte to the frame that drew it.
void latency()
{
    PtyFeeder::Options o;
    o.content = PtyFeeder::Content::Numbers;
    o.bytesPerSecond = 1000.0 * double(PtyFeeder::numberLineBytes(1));
    o.recordWrites = true;
    auto feeder = openFeeder(o);
    Harness h;
    h.connectTo(feeder->path(), "115200");
    PlotDock *dock = showPlot(h);
    std::vector<Clock::time_point> paintedAt;
    QObject::connect(dock->view(), &PlotView::framePainted, [&](std::int64_t samples) {
        while (std::int64_t(paintedAt.size()) < samples)
            paintedAt.push_back(Clock::now());
    });
    h.startStop();
    runUntil([&] { return feeder->streaming(); }, 10, "stream start");
    settle(static_cast<int>(setting("plot-latency-seconds") * 1000));
    feeder->stop();
    const std::vector<PtyFeeder::WriteMark> marks = feeder->marks();
    const std::uint64_t lineBytes = PtyFeeder::numberLineBytes(1);
    std::vector<double> ms;
    for (std::size_t line = 0; line < paintedAt.size(); ++line) {
        const auto mark = std::upper_bound(
            marks.begin(), marks.end(), (line + 1) * lineBytes - 1,
            [](std::uint64_t offset, const PtyFeeder::WriteMark &m) { return offset < m.end; });
        if (mark == marks.end())
            break;
        ms.push_back(std::chrono::duration<double, std::milli>(paintedAt[line] - mark->at).count());
    }
    report("plot_latency_p50", percentile(ms, 50), "ms");
    report("plot_latency_p99", percentile(ms, 99), "ms");
    report("plot_latency_samples", double(ms.size()), "count");
}

const Registered
    registeredStalls({"plot-stalls",
                      "plot",
                      {{"plot-seconds", "Length of each stall case with the plot shown", 30, 3}},
                      stalls});
const Registered registeredMemory(
    {"plot-memory",
     "plot",
     {{"plot-memory-minutes", "Minutes at 400,000 B/s of numeric lines fed to the plot", 10, 0.5}},
     memory});
const Registered registeredFrames({"plot-frames", "plot", {}, frames});
const Registered registeredLatency({"plot-latency",
                                    "plot",
                                    {{"plot-latency-seconds",
                                      "Length of the plot's latency run at 1,000 lines/s", 20, 3}},
                                    latency});

} // namespace
