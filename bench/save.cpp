// How fast a capture is saved, by the size of the store's entries.

#include "bench.h"

#include "serial/capturefile.h"

#include <QFile>
#include <QTemporaryDir>

namespace {

using namespace bench;

void save()
{
    QTemporaryDir dir(folder() + "/tarvex-bench-XXXXXX");
    if (!dir.isValid())
        fail("cannot create a folder for the save figure");
    const QString fileName = dir.filePath("capture.txt");
    const auto bytes = static_cast<std::uint64_t>(setting("save-mb") * MB) / 64 * 64;

    for (const std::size_t entryChars : {std::size_t(4096), std::size_t(64)}) {
        // The feeder's lines, cut into entries.
        QStringList chunks;
        std::vector<char> text(entryChars);
        for (std::uint64_t at = 0; at < bytes; at += entryChars) {
            const auto n
                = static_cast<std::size_t>(std::min<std::uint64_t>(entryChars, bytes - at));
            PtyFeeder::fill(PtyFeeder::Options(), at, text.data(), n);
            chunks.append(QString::fromLatin1(text.data(), static_cast<int>(n)));
        }
        std::vector<double> wall;
        std::vector<double> cpu;
        for (int i = 0; i < setting("runs"); ++i) {
            QFile::remove(fileName);
            const double cpu0 = threadCpuSeconds();
            const Clock::time_point t0 = Clock::now();
            if (CaptureFile::save(fileName, chunks).result != CaptureFile::SaveResult::Saved)
                fail("save failed");
            const double seconds = secondsSince(t0);
            const double cpuSeconds = threadCpuSeconds() - cpu0;
            if (QFile(fileName).size() != static_cast<qint64>(bytes))
                fail("the saved file has the wrong size");
            wall.push_back(static_cast<double>(bytes) / MB / seconds);
            cpu.push_back(static_cast<double>(bytes) / MB / cpuSeconds);
        }
        const std::string name = "save_" + std::to_string(entryChars) + "B_entries";
        report(name, median(wall), "MB/s");
        report(name + "_cpu", median(cpu), "MB/cpu-s");
    }
}

const Registered
    registered({"save", "save", {{"save-mb", "Capture size of the save figure", 100, 8}}, save});

} // namespace
