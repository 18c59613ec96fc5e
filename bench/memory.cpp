// Memory per captured byte, by the size of the port's deliveries: the capture goes to disk, so
// what stays in memory must not grow with it.

#include "bench.h"

#include <QSerialPort>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace {

using namespace bench;

void memory(std::size_t deliveryBytes)
{
    // Each small delivery is a round trip, so the smallest ones get a fifth of the size: still
    // large enough that what the first bytes set up once (about 1 MB) does not dominate.
    const double megabytes = deliveryBytes >= 4096 ? setting("memory-mb")
        : deliveryBytes == 1                       ? setting("memory-small-mb") / 5
                                                   : setting("memory-small-mb");
    const auto bytes = static_cast<std::uint64_t>(megabytes * MB) / 64 * 64;
    PtyFeeder::Options o;
    o.totalBytes = bytes;
    // Small deliveries: one write, then wait until the program has read it. 4 KB ones come by
    // themselves when the device outpaces the program: a pty read returns at most 4 KB (a 4 KB
    // write would reach the program as two 2 KB pieces, the pty's unit of transfer).
    o.handshake = deliveryBytes < 4096;
    o.writeBytes = o.handshake ? deliveryBytes : 65536;
    auto feeder = openFeeder(o);
    Harness h;
    h.connectTo(feeder->path(), "4000000");
    std::uint64_t chars = 0;
    double deliveries = 0;
    QObject::connect(h.port(), &QSerialPort::readyRead, [&] {
        ++deliveries;
        chars = storedBytes();
        feeder->acknowledge(chars);
    });
    settle(100);
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
    const long long rss0 = residentBytes();
    const Clock::time_point t0 = Clock::now();
    h.startStop();
    // The second half alone shows what each further byte costs, without what the first ones
    // set up once (the view's document, the port's buffer, the font's glyphs).
    runUntil([&] { return chars >= bytes / 2; }, 3600, "memory capture");
    const long long rssHalf = residentBytes();
    const std::uint64_t charsHalf = chars;
    runUntil([&] { return chars >= bytes; }, 3600, "memory capture");
    const double seconds = secondsSince(t0);
    const long long rss1 = residentBytes();

    const std::string name = "memory_" + std::to_string(deliveryBytes) + "B";
    report(name + "_growth_per_byte", static_cast<double>(rss1 - rss0) / static_cast<double>(bytes),
           "bytes/byte");
    report(name + "_second_half_per_byte",
           static_cast<double>(rss1 - rssHalf) / static_cast<double>(chars - charsHalf),
           "bytes/byte");
    report(name + "_rss_growth", static_cast<double>(rss1 - rss0) / MB, "MB");
    report(name + "_delivery_mean", static_cast<double>(chars) / deliveries, "bytes");
    report(name + "_rate", static_cast<double>(bytes) / MB / seconds, "MB/s");
    h.startStop();
}

const std::vector<Setting> sizes = {
    {"memory-mb", "Capture size with 4 KB deliveries", 1000, 8},
    {"memory-small-mb", "Capture size with 64-byte deliveries; a fifth with 1-byte ones", 20, 0.5}};
const Registered registered4096({"memory-4096", "memory", sizes, [] { memory(4096); }});
const Registered registered64({"memory-64", "memory", sizes, [] { memory(64); }});
const Registered registered1({"memory-1", "memory", sizes, [] { memory(1); }});

} // namespace
