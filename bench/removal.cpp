// The event loop's longest stall while a Start empties a capture of gigabytes during a stream,
// and a save that read it lets go of it last, on the GUI thread: the old file's removal must
// not happen there.

#include "bench.h"

#include "serial/capturestore.h"

#include <QFileInfo>

namespace {

using namespace bench;

void startEmptiesCapture()
{
    PtyFeeder::Options o;
    o.bytesPerSecond = 400000;
    const std::unique_ptr<PtyFeeder> feeder = openFeeder(o);
    Harness h;
    h.connectTo(feeder->path(), "4000000");
    h.startStop();
    runUntil([&] { return feeder->streaming(); }, 10, "stream start");
    CaptureStore *store = h.store();
    fillStore(store, static_cast<std::uint64_t>(setting("empty-capture-mb") * MB));
    const QString old = store->filePath();
    const double size = static_cast<double>(QFileInfo(old).size()) / MB;
    auto saved = std::make_unique<CaptureSnapshot>(store->snapshot());
    StallMonitor stalls;
    stalls.start();
    // What a Start does once the device's answer confirms it.
    store->beginStart();
    store->confirmStart();
    // The writer lets go of the old file.
    settle(500);
    const Clock::time_point t0 = Clock::now();
    saved.reset();
    runUntil([&] { return !QFileInfo::exists(old); }, 120, "old capture removed");
    const double seconds = secondsSince(t0);
    settle(500);
    report("start_empties_capture_max_stall", stalls.stop(), "ms");
    report("start_empties_capture_size", size, "MB");
    report("start_empties_capture_removed_after", seconds, "s");
    feeder->stop();
}

const Registered registered({"start-empties-capture",
                             "stalls",
                             {{"empty-capture-mb", "Capture size a Start empties", 2000, 20}},
                             startEmptiesCapture});

} // namespace
