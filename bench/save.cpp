// How fast a capture on disk is saved, beside cp copying the same file.

#include "bench.h"

#include "serial/capturefile.h"
#include "serial/capturestore.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace {

using namespace bench;

void save()
{
    QTemporaryDir dir(folder() + "/tarvex-bench-XXXXXX");
    if (!dir.isValid())
        fail("cannot create a folder for the save figure");
    CaptureStore store(dir.filePath("cache"));
    fillStore(&store, static_cast<std::uint64_t>(setting("save-mb") * MB));
    const double mb = static_cast<double>(store.size()) / MB;
    const QString target = dir.filePath("saved.txt");
    // Each run starts with nothing left to write back from the one before.
    const auto cleanSlate = [&] {
        QFile::remove(target);
        QProcess::execute(QStringLiteral("sync"), {});
    };
    const auto copy = [&](bool sync) {
        cleanSlate();
        const Clock::time_point t0 = Clock::now();
        if (QProcess::execute(QStringLiteral("cp"), {store.filePath(), target}) != 0
            || (sync && QProcess::execute(QStringLiteral("sync"), {target}) != 0))
            fail("cp failed");
        return mb / secondsSince(t0);
    };
    std::vector<double> program;
    std::vector<double> cpu;
    std::vector<double> cp;
    std::vector<double> cpSync;
    for (int i = 0; i < setting("runs"); ++i) {
        cleanSlate();
        const double cpu0 = threadCpuSeconds();
        const Clock::time_point t0 = Clock::now();
        if (CaptureFile::save(target, store.snapshot()).result != CaptureFile::SaveResult::Saved
            || QFile(target).size() != store.size())
            fail("save failed");
        program.push_back(mb / secondsSince(t0));
        cpu.push_back(mb / (threadCpuSeconds() - cpu0));
        cp.push_back(copy(false));
        cpSync.push_back(copy(true));
    }
    const double saved = median(program);
    report("save", saved, "MB/s");
    report("save_cpu", median(cpu), "MB/cpu-s");
    report("save_cp", median(cp), "MB/s");
    report("save_ratio", saved / median(cp), "program/cp");
    // A save makes sure its file is on the disk before it replaces the old one; cp does not.
    report("save_cp_sync", median(cpSync), "MB/s");
    report("save_ratio_synced", saved / median(cpSync), "program/(cp+sync)");
}

const Registered
    registered({"save", "save", {{"save-mb", "Capture size of the save figure", 1000, 8}}, save});

} // namespace
