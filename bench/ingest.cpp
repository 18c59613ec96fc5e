// How fast the window takes in a device that outpaces it, beside a plain read loop.

#include "bench.h"

#include <cerrno>

#include <unistd.h>

namespace {

using namespace bench;

// One run of the program: wall and GUI-thread CPU rates, and the mean delivery.
struct IngestRun
{
    double wallMBps;
    double cpuMBps;
    double delivery;
};

IngestRun ingestProgram(std::uint64_t bytes)
{
    PtyFeeder::Options o;
    o.totalBytes = bytes;
    auto feeder = openFeeder(o);
    Harness h;
    h.connectTo(feeder->path(), "4000000");

    const Harness::Capture c = h.timedCapture(bytes);
    const double mb = static_cast<double>(bytes) / MB;
    return {mb / c.seconds, mb / c.cpuSeconds, static_cast<double>(bytes) / c.deliveries};
}

double ingestRaw(std::uint64_t bytes)
{
    PtyFeeder::Options o;
    o.totalBytes = bytes;
    o.waitForStart = false;
    const Clock::time_point t0 = Clock::now();
    auto feeder = openFeeder(o);
    std::vector<char> buffer(65536);
    for (std::uint64_t got = 0; got < bytes;) {
        const ssize_t n = ::read(feeder->hostFd(), buffer.data(), buffer.size());
        if (n < 0 && errno != EINTR)
            fail("read failed");
        got += static_cast<std::uint64_t>(std::max<ssize_t>(n, 0));
    }
    return static_cast<double>(bytes) / MB / secondsSince(t0);
}

void ingest()
{
    const auto bytes = static_cast<std::uint64_t>(setting("ingest-mb") * MB) / 64 * 64;
    std::vector<double> wall;
    std::vector<double> cpu;
    std::vector<double> delivery;
    std::vector<double> raw;
    for (int i = 0; i < setting("runs"); ++i) {
        const IngestRun r = ingestProgram(bytes);
        wall.push_back(r.wallMBps);
        cpu.push_back(r.cpuMBps);
        delivery.push_back(r.delivery);
        raw.push_back(ingestRaw(bytes));
    }
    report("ingest_program", median(wall), "MB/s");
    report("ingest_program_gui_cpu", median(cpu), "MB/cpu-s");
    report("ingest_raw_pty", median(raw), "MB/s");
    report("ingest_ratio", median(wall) / median(raw), "program/raw");
    report("ingest_delivery_mean", median(delivery), "bytes");
}

const Registered registered(
    {"ingest", "ingest", {{"ingest-mb", "Store size the ingest figure fills", 50, 4}}, ingest});

} // namespace
