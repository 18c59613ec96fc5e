// What putting the capture on the disk about once a second costs: the ingest beside the same run
// without syncs, and how long the syncs and the wait for them take.

#include "bench.h"

#include "serial/capturestore.h"
#include "serial/leftovers.h"

#include <QDir>
#include <QMutex>

namespace {

using namespace bench;

struct SyncRun
{
    double wallMBps;
    double cpuMBps;
    double longestSyncMs;
    // From the first write a sync covers to the end of that sync.
    double longestExposureMs;
    double syncsPerSecond;
};

SyncRun ingestWithSync(std::uint64_t bytes, bool sync)
{
    PtyFeeder::Options o;
    o.totalBytes = bytes;
    auto feeder = openFeeder(o);
    Harness h;
    h.connectTo(feeder->path(), "4000000");
    CaptureStore *store = h.store();
    store->setSyncInterval(sync ? CaptureStore::SyncIntervalMs : -1);

    QMutex mutex;
    Clock::time_point syncStarted;
    Clock::time_point firstUnsynced;
    bool unsynced = false;
    double longestSync = 0;
    double longestExposure = 0;
    int syncs = 0;
    store->setWriterProbe([&](CaptureStore::WriterStep step, qint64) {
        const QMutexLocker lock(&mutex);
        const Clock::time_point now = Clock::now();
        if (step == CaptureStore::WriterStep::Writing && !unsynced) {
            unsynced = true;
            firstUnsynced = now;
        } else if (step == CaptureStore::WriterStep::Syncing) {
            syncStarted = now;
        } else if (step == CaptureStore::WriterStep::Synced) {
            ++syncs;
            longestSync = std::max(
                longestSync, std::chrono::duration<double, std::milli>(now - syncStarted).count());
            longestExposure
                = std::max(longestExposure,
                           std::chrono::duration<double, std::milli>(now - firstUnsynced).count());
            unsynced = false;
        }
    });

    const Clock::time_point t0 = Clock::now();
    const Harness::Capture c = h.timedCapture(bytes);
    // The last sync too, so that the run's figures hold all of them.
    runUntil([&] { return store->sizeOnDisk() >= store->size(); }, 600, "capture on disk");
    settle(2 * CaptureStore::SyncIntervalMs);
    const double mb = static_cast<double>(bytes) / MB;
    store->setWriterProbe({});
    return {mb / c.seconds, mb / c.cpuSeconds, longestSync, longestExposure,
            syncs / secondsSince(t0)};
}

void durability()
{
    const auto bytes = static_cast<std::uint64_t>(setting("ingest-mb") * MB) / 64 * 64;
    std::vector<double> wall[2];
    std::vector<double> cpu[2];
    double longestSync = 0;
    double longestExposure = 0;
    std::vector<double> rate;
    // Side by side, alternating, so that the machine's load meets both alike.
    for (int i = 0; i < setting("runs"); ++i) {
        for (const bool sync : {false, true}) {
            const SyncRun r = ingestWithSync(bytes, sync);
            wall[sync].push_back(r.wallMBps);
            cpu[sync].push_back(r.cpuMBps);
            if (sync) {
                longestSync = std::max(longestSync, r.longestSyncMs);
                longestExposure = std::max(longestExposure, r.longestExposureMs);
                rate.push_back(r.syncsPerSecond);
            }
        }
    }
    report("sync_ingest_on", median(wall[1]), "MB/s");
    report("sync_ingest_off", median(wall[0]), "MB/s");
    report("sync_ingest_ratio", median(wall[1]) / median(wall[0]), "on/off");
    report("sync_gui_cpu_on", median(cpu[1]), "MB/cpu-s");
    report("sync_gui_cpu_off", median(cpu[0]), "MB/cpu-s");
    report("sync_longest", longestSync, "ms");
    report("sync_unsynced_longest", longestExposure, "ms");
    report("sync_rate", median(rate), "syncs/s");
}

// What the look for leftovers adds to a start that finds none: the folder missing, or there
// with nothing left in it (the usual case after a normal exit).
void leftoverCheck()
{
    const QString missing = folder() + QStringLiteral("/no-such-cache");
    const QString empty = folder() + QStringLiteral("/empty-cache");
    QDir().mkpath(empty);
    QFile::setPermissions(empty, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    for (const auto &[name, path] : {std::pair<const char *, QString>{"missing", missing},
                                     std::pair<const char *, QString>{"empty", empty}}) {
        std::vector<double> us;
        for (int i = 0; i < 1000; ++i) {
            const Clock::time_point t0 = Clock::now();
            if (!Leftovers::find(path).isEmpty())
                fail("a leftover where none can be");
            us.push_back(secondsSince(t0) * 1e6);
        }
        report(std::string("leftover_check_") + name, median(us), "us");
    }
}

const Registered registeredCheck({"leftover-check", "startup", {}, leftoverCheck});

const Registered registered({"durability",
                             "durability",
                             {{"ingest-mb", "Store size the ingest figure fills", 50, 4}},
                             durability});

} // namespace
