// The size of a capture's merged time record per hour of capture, fed on a simulated clock with
// the deliveries the program reads at 4 Mbaud and at 115200 baud: no pty, so an hour takes a
// fraction of a second.

#include "bench.h"

#include "timeline/sidecars.h"
#include "timeline/timerecord.h"

#include <QRandomGenerator>

#include <cstdio>

namespace {

using namespace bench;

// A device that sends bytesPerSecond steadily, through an adapter that hands bytes over in
// frames of frameMicros; the program reads every readMicros plus up to jitterMicros, and every
// stallEveryMs its event loop is held stallMicros. A driver may hold bytes back up to heldMicros.
struct Line
{
    const char *name;
    double bytesPerSecond;
    qint64 frameMicros;
    qint64 readMicros;
    qint64 jitterMicros;
    qint64 stallEveryMs;
    qint64 stallMicros;
    qint64 heldMicros;
};

void timeRecordSize()
{
    const double hours = setting("timerecord-hours");
    const qint64 span = qint64(hours * 3600e6);
    const Line lines[] = {
        // The event loop reads every ms or so, a 30 ms stall every 2 s (a Save dialog, a resize).
        {"4mbaud", 400000, 1000, 1000, 2000, 2000, 30000, 0},
        // An FTDI adapter's 16 ms latency timer at a low rate; a read soon after each frame.
        {"115200", 11520, 16000, 1000, 2000, 2000, 30000, 0},
        // The worst seen on a loaded machine: a driver that holds bytes back up to 3 ms at random.
        {"4mbaud_held", 400000, 1000, 1000, 2000, 2000, 30000, 3000},
        {"115200_held", 11520, 16000, 1000, 2000, 2000, 30000, 3000},
    };
    for (const Line &line : lines) {
        QRandomGenerator random(11);
        TimeRecord record;
        qint64 now = 0;
        qint64 nextStall = line.stallEveryMs * 1000;
        qint64 deliveries = 0;
        qint64 lastOffset = 0;
        qint64 misplaced = 0;
        qint64 previous = 0;
        const double cpu0 = threadCpuSeconds();
        // A sample of the deliveries, each with the read before it, to check the record against.
        std::vector<std::pair<TimePoint, qint64>> raw;
        while (now < span) {
            now += line.readMicros + qint64(random.bounded(int(line.jitterMicros)));
            if (now >= nextStall) {
                now += line.stallMicros;
                nextStall += line.stallEveryMs * 1000;
            }
            const qint64 held
                = line.heldMicros > 0 ? qint64(random.bounded(int(line.heldMicros))) : 0;
            const qint64 sent = (now - held) / line.frameMicros * line.frameMicros;
            const qint64 offset = qint64(double(sent) * line.bytesPerSecond / 1e6);
            // A read that finds nothing new is no delivery.
            if (offset <= lastOffset)
                continue;
            lastOffset = offset;
            record.add({offset, now});
            ++deliveries;
            if (deliveries % 97 == 0)
                raw.push_back({{offset, now}, previous});
            previous = now;
        }
        const double cpu = threadCpuSeconds() - cpu0;
        for (const auto &delivery : raw)
            misplaced += record.places(delivery.first, delivery.second) ? 0 : 1;
        const double perHour = 1.0 / hours;
        const std::string name = std::string("timerecord_") + line.name;
        report(name + "_deliveries_per_hour", double(deliveries) * perHour, "deliveries");
        report(name + "_points_per_hour", double(record.size()) * perHour, "points");
        // 16 bytes a point in memory and in the cache folder.
        report(name + "_bytes_per_hour", double(record.size()) * 16 * perHour / MB, "MB");
        report(name + "_tsv_per_hour",
               double(Sidecars::timesTable(record.points()).size()) * perHour / MB, "MB");
        report(name + "_misplaced", double(misplaced), "deliveries");
        report(name + "_cpu_per_delivery", cpu / double(deliveries) * 1e9, "ns");
    }
}

const Registered registered({"timerecord-size",
                             "timeline",
                             {{"timerecord-hours", "Hours of capture simulated", 1, 0.1}},
                             timeRecordSize});

} // namespace
