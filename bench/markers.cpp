// Marker placement: how far from the line the device was writing at a key press the marker lands.

#include "bench.h"

#include "app/mainwindow.h"
#include "console/console.h"
#include "plot/plotdock.h"
#include "serial/capturestore.h"

#include <QAction>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <random>

namespace {

using namespace bench;

// 3 channels at 1,000 lines a second; `presses` marker keys at moments 40 to 160 ms apart, each
// typed on the GUI thread by a timer, the moment taken right before. The device's write marks
// tell which line it was writing then.
void placementCase(const char *name, bool plotShown)
{
    const int presses = int(setting("marker-presses"));
    // A cache folder of its own: captures a killed run left in the shared one would make the
    // window offer them in a modal box before anything is measured.
    QTemporaryDir cache(folder() + "/tarvex-bench-XXXXXX");
    if (!cache.isValid())
        fail("no cache folder under " + folder().toStdString());
    qputenv("XDG_CACHE_HOME", QFile::encodeName(cache.path()));
    PtyFeeder::Options o;
    o.content = PtyFeeder::Content::Numbers;
    o.channels = 3;
    const auto lineBytes = PtyFeeder::numberLineBytes(o.channels);
    o.bytesPerSecond = 1000.0 * double(lineBytes);
    o.recordWrites = true;
    auto feeder = openFeeder(o);
    Harness h;
    h.connectTo(feeder->path(), "921600");
    if (plotShown)
        h.action("actionPlot")->trigger();
    auto *dock = h.mainWindow()->findChild<PlotDock *>();
    h.startStop();
    runUntil([&] { return feeder->streaming(); }, 10, "stream start");
    settle(500);
    Console *console = h.console();
    console->setFocus();

    // Widgets take events only on the GUI thread: a timer there types each key, through the
    // shortcut map as a key from the window system goes.
    std::vector<Clock::time_point> pressedAt;
    pressedAt.reserve(static_cast<std::size_t>(presses));
    std::mt19937 random(7);
    std::uniform_int_distribution<int> pause(40, 160);
    QTimer presser;
    presser.setSingleShot(true);
    presser.setTimerType(Qt::PreciseTimer);
    QObject::connect(&presser, &QTimer::timeout, [&] {
        const auto key = Qt::Key(Qt::Key_1 + int(pressedAt.size()) % 9);
        pressedAt.push_back(Clock::now());
        QTest::keyClick(console, key, Qt::ControlModifier);
        if (int(pressedAt.size()) < presses)
            presser.start(pause(random));
    });
    presser.start(pause(random));
    const auto placed = [&] { return int(dock->markers().marks().size()); };
    runUntil([&] { return int(pressedAt.size()) == presses && placed() >= presses; },
             presses * 0.2 + 10, "markers placed");
    h.startStop();
    settle(200);
    feeder->stop();

    const std::vector<PtyFeeder::WriteMark> writes = feeder->marks();
    std::vector<double> offsets;
    std::vector<double> behind;
    int counted = 0;
    for (int i = 0; i < presses && i < placed(); ++i) {
        const auto last = std::upper_bound(
            writes.begin(), writes.end(), pressedAt[std::size_t(i)],
            [](Clock::time_point t, const PtyFeeder::WriteMark &w) { return t < w.at; });
        if (last == writes.begin())
            continue;
        // The line that holds the last byte the device had begun to write.
        // Whole lines: the division is meant to drop the part begun.
        const auto line = ((last - 1)->end - 1) / lineBytes;
        const double writing = double(line);
        const double sample = double(dock->markers().marks().at(std::size_t(i)).sample);
        offsets.push_back(sample - writing);
        behind.push_back(std::abs(sample - writing));
        ++counted;
    }
    const std::string prefix = std::string("marker_placement_") + name;
    report(prefix + "_presses", counted, "count");
    report(prefix + "_median", median(offsets), "samples");
    report(prefix + "_worst", behind.empty() ? 0 : *std::max_element(behind.begin(), behind.end()),
           "samples");
}

void placement()
{
    placementCase("plot_hidden", false);
    placementCase("plot_shown", true);
}

const Registered registeredPlacement(
    {"marker-placement",
     "markers",
     {{"marker-presses", "Marker keys pressed at 1,000 lines/s in each case", 200, 20}},
     placement});

} // namespace
