// A long capture from the simulated device at 115200 baud: memory and stalls over time, and
// the saved file against every byte the device sent.

#include "bench.h"

#include "serial/capturefile.h"
#include "serial/capturestore.h"
#include "simulateddevice.h"

#include <QFile>
#include <QSerialPort>
#include <QTemporaryDir>

namespace {

using namespace bench;

void soak()
{
    const double seconds = setting("soak-minutes") * 60;
    devsim::DeviceOptions o;
    o.pattern = devsim::Pattern::TestPattern;
    o.keepSent = true;
    // Ends on whole characters, so the saved file can be compared byte for byte.
    o.totalBytes = static_cast<std::uint64_t>(seconds * 11520);
    devsim::SimulatedDevice device(o);
    std::string error;
    if (!device.open(&error))
        fail(error);
    device.start();
    Harness h;
    h.connectTo(device.path(), "115200");

    double deliveries = 0;
    QObject::connect(h.port(), &QSerialPort::readyRead, [&] { ++deliveries; });
    StallMonitor stalls;
    long long rssMax = 0;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout,
                     [&] { rssMax = std::max(rssMax, residentBytes()); });
    settle(100);
    const long long rss0 = residentBytes();
    h.startStop();
    runUntil([&] { return device.streaming(); }, 10, "stream start");
    stalls.start();
    sampler.start(1000);
    settle(10000);
    const long long rssEarly = residentBytes();
    runUntil([&] { return !device.streaming(); }, seconds * 2 + 60, "soak");
    settle(500);
    stalls.stop();
    h.startStop();
    const long long rss1 = residentBytes();

    QTemporaryDir dir(folder() + "/tarvex-soak-XXXXXX");
    const QString fileName = dir.filePath("soak.txt");
    QFile file(fileName);
    const bool saved = CaptureFile::save(fileName, h.store()->snapshot()).result
            == CaptureFile::SaveResult::Saved
        && file.open(QIODevice::ReadOnly);
    const QByteArray savedBytes = saved ? file.readAll() : QByteArray();
    const std::string sent = device.sent();

    report("soak_bytes_sent", static_cast<double>(sent.size()), "bytes");
    report("soak_bytes_saved", savedBytes.size(), "bytes");
    report("soak_identical", savedBytes.toStdString() == sent ? 1 : 0, "bool");
    report("soak_delivery_mean", static_cast<double>(savedBytes.size()) / deliveries, "bytes");
    report("soak_rss_before_capture", static_cast<double>(rss0) / MB, "MB");
    report("soak_rss_after_10s", static_cast<double>(rssEarly) / MB, "MB");
    report("soak_rss_end", static_cast<double>(rss1) / MB, "MB");
    report("soak_rss_max", static_cast<double>(rssMax) / MB, "MB");
    report("soak_max_stall", stalls.maxGapMs, "ms");
    report("soak_stalls_over_50ms", stalls.over50, "count");
}

const Registered
    registered({"soak", "soak", {{"soak-minutes", "Length of the soak", 30, 0.5}}, soak, false});

} // namespace
