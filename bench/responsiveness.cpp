// Whether the window keeps up and stays responsive: a device that never ends a line, and the
// time from a byte on the line to its text in the console.

#include "bench.h"

#include "console/console.h"

#include <QSerialPort>
#include <QTextBlock>
#include <QTextDocument>

#include <algorithm>

namespace {

using namespace bench;

void noLineEnds()
{
    PtyFeeder::Options o;
    o.content = PtyFeeder::Content::NoLineEnds;
    o.bytesPerSecond = 400000;
    auto feeder = openFeeder(o);
    Harness h;
    h.connectTo(feeder->path(), "4000000");

    // Due but not yet written (the pty was full), queued in the pty, and in the port's buffer.
    const auto backlog = [&] {
        return static_cast<double>(feeder->due() - feeder->written())
            + std::max(0, feeder->queuedAtHost()) + static_cast<double>(h.port()->bytesAvailable());
    };
    double maxBacklog = 0;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout,
                     [&] { maxBacklog = std::max(maxBacklog, backlog()); });
    StallMonitor stalls;

    const double cpu0 = threadCpuSeconds();
    h.startStop();
    runUntil([&] { return feeder->streaming(); }, 10, "stream start");
    stalls.start();
    sampler.start(100);
    const Clock::time_point t0 = Clock::now();
    settle(static_cast<int>(setting("noline-seconds") * 1000));
    const double seconds = secondsSince(t0);
    const double finalBacklog = backlog();
    const double cpu = threadCpuSeconds() - cpu0;
    stalls.stop();
    feeder->stop();

    report("noline_rate", static_cast<double>(storedBytes()) / 1000 / seconds, "KB/s");
    report("noline_max_stall", stalls.maxGapMs, "ms");
    report("noline_stalls_over_50ms", stalls.over50, "count");
    report("noline_backlog_final", finalBacklog, "bytes");
    report("noline_backlog_max", std::max(maxBacklog, finalBacklog), "bytes");
    report("noline_gui_cpu", 100 * cpu / seconds, "%");
}

// Calls back on each paint of the object it watches.
class PaintWatch : public QObject
{
public:
    std::function<void()> onPaint;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            onPaint();
        return QObject::eventFilter(watched, event);
    }
};

void latency()
{
    constexpr std::size_t LineBytes = 16;
    PtyFeeder::Options o;
    o.lineBytes = LineBytes;
    o.bytesPerSecond = 115200 / 10.0;
    o.recordWrites = true;
    auto feeder = openFeeder(o);
    Harness h;
    h.connectTo(feeder->path(), "115200");

    // A line is in the console once a later block exists; its number is its first 12 characters.
    QTextDocument *doc = h.console()->document();
    long long lastSeen = -1;
    long long lastPainted = -1;
    std::vector<Clock::time_point> seenAt;
    std::vector<Clock::time_point> paintedAt;
    QObject::connect(doc, &QTextDocument::contentsChanged, [&] {
        bool ok = false;
        const long long number = doc->lastBlock().previous().text().left(12).toLongLong(&ok);
        for (; ok && lastSeen < number; ++lastSeen)
            seenAt.push_back(Clock::now());
    });
    PaintWatch paints;
    paints.onPaint = [&] {
        for (; lastPainted < lastSeen; ++lastPainted)
            paintedAt.push_back(Clock::now());
    };
    h.console()->viewport()->installEventFilter(&paints);
    StallMonitor stalls;

    h.startStop();
    runUntil([&] { return feeder->streaming(); }, 10, "stream start");
    stalls.start();
    settle(static_cast<int>(setting("latency-seconds") * 1000));
    stalls.stop();
    feeder->stop();

    // From the write that carried a line's last byte.
    const std::vector<PtyFeeder::WriteMark> marks = feeder->marks();
    std::vector<double> seen;
    std::vector<double> painted;
    for (std::size_t line = 0; line < seenAt.size(); ++line) {
        const auto mark = std::upper_bound(
            marks.begin(), marks.end(), (line + 1) * LineBytes - 1,
            [](std::uint64_t offset, const PtyFeeder::WriteMark &m) { return offset < m.end; });
        if (mark == marks.end())
            break;
        seen.push_back(std::chrono::duration<double, std::milli>(seenAt[line] - mark->at).count());
        if (line < paintedAt.size())
            painted.push_back(
                std::chrono::duration<double, std::milli>(paintedAt[line] - mark->at).count());
    }
    report("latency_p50", percentile(seen, 50), "ms");
    report("latency_p99", percentile(seen, 99), "ms");
    report("latency_max", percentile(seen, 100), "ms");
    report("latency_painted_p50", percentile(painted, 50), "ms");
    report("latency_painted_p99", percentile(painted, 99), "ms");
    report("latency_lines", static_cast<double>(seen.size()), "count");
    report("latency_max_stall", stalls.maxGapMs, "ms");
}

const Registered registeredNoLineEnds({"noline",
                                       "responsiveness",
                                       {{"noline-seconds",
                                         "Length of the run without line ends at 400 KB/s", 60, 3}},
                                       noLineEnds});
const Registered
    registeredLatency({"latency",
                       "responsiveness",
                       {{"latency-seconds", "Length of the latency run at 115200 baud", 20, 3}},
                       latency});

} // namespace
