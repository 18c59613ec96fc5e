// How fast a capture is exported for analysis, beside `wc -l` on the same file, with how much
// memory; and the event loop's longest stall while an export runs during a stream.

#include "bench.h"

#include "export/captureexport.h"
#include "peakmemory.h"
#include "serial/capturestore.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>

namespace {

using namespace bench;

// Lines of three numbers like "-0123,+0456,-0789", as a three-channel device sends them.
QByteArray numberBlock(std::uint64_t offset, std::size_t size)
{
    PtyFeeder::Options o;
    o.content = PtyFeeder::Content::Numbers;
    o.channels = 3;
    o.lineBytes = PtyFeeder::numberLineBytes(3);
    QByteArray block(int(size), Qt::Uninitialized);
    PtyFeeder::fill(o, offset, block.data(), size);
    return block;
}

void throughput()
{
    QTemporaryDir dir(folder() + "/tarvex-bench-XXXXXX");
    const QString capturePath = dir.filePath("capture.txt");
    const auto bytes = std::uint64_t(setting("export-mb") * MB);
    const std::size_t lineBytes = PtyFeeder::numberLineBytes(3);
    // Whole lines in whole blocks, one time point per block as a merged record would hold.
    const std::size_t block = (std::size_t(1) << 20) / lineBytes * lineBytes;
    QVector<TimePoint> times;
    {
        QFile capture(capturePath);
        if (!capture.open(QIODevice::WriteOnly))
            fail("cannot write " + capturePath.toStdString());
        for (std::uint64_t at = 0; at < bytes; at += block) {
            capture.write(numberBlock(at, block));
            // 1,000 lines a second.
            times.append({qint64(at + block), qint64((at + block) / lineBytes) * 1000});
        }
    }
    const qint64 size = QFileInfo(capturePath).size();
    report("export_capture", double(size) / MB, "MB");

    // Read once, so that each of the runs below finds it in the page cache alike.
    Clock::time_point t0 = Clock::now();
    QProcess wc;
    wc.start("wc", {"-l", capturePath});
    wc.waitForFinished(-1);
    t0 = Clock::now();
    wc.start("wc", {"-l", capturePath});
    wc.waitForFinished(-1);
    report("export_wc_l", double(size) / MB / secondsSince(t0), "MB/s");

    ExportPlan::Input input;
    input.capture = CaptureSnapshot::ofLeftover(capturePath, size);
    input.times = times;
    input.startedUtc = QDateTime::currentDateTimeUtc();
    const long long baseline = residentBytes();
    for (const auto &[name, format] :
         {std::pair<const char *, CaptureExport::Format>{"csv", CaptureExport::Format::Csv},
          {"edf", CaptureExport::Format::Edf}}) {
        const QString out = dir.filePath(QStringLiteral("export.") + name);
        t0 = Clock::now();
        const double cpu0 = threadCpuSeconds();
        const CaptureExport::Outcome outcome = CaptureExport::run(out, format, 0, input, nullptr);
        const double seconds = secondsSince(t0);
        const double cpu = threadCpuSeconds() - cpu0;
        if (outcome.result != CaptureExport::Result::Exported)
            fail("export failed: " + outcome.reason.toStdString());
        report(std::string("export_") + name, double(size) / MB / seconds, "MB/s");
        report(std::string("export_") + name + "_cpu", double(size) / MB / cpu, "MB/cpu-s");
        report(std::string("export_") + name + "_peak_rss_growth",
               double(testkit::peakResidentBytes() - baseline) / MB, "MB");
        report(std::string("export_") + name + "_file", double(QFileInfo(out).size()) / MB, "MB");
        QFile::remove(out);
    }
}

void duringStream()
{
    PtyFeeder::Options o;
    o.bytesPerSecond = 400000;
    o.content = PtyFeeder::Content::Numbers;
    o.channels = 3;
    o.lineBytes = PtyFeeder::numberLineBytes(3);
    const std::unique_ptr<PtyFeeder> feeder = openFeeder(o);
    Harness h;
    h.connectTo(feeder->path(), "4000000");
    h.startStop();
    runUntil([&] { return feeder->streaming(); }, 10, "stream start");
    CaptureStore *store = h.store();
    const auto bytes = std::uint64_t(setting("stall-export-mb") * MB);
    for (std::uint64_t at = 0; at < bytes; at += 1 << 20) {
        store->append(numberBlock(at, 1 << 20));
        QCoreApplication::processEvents();
    }
    store->flush();
    const qint64 filled = store->size();
    runUntil([&] { return store->sizeOnDisk() >= filled; }, 600, "capture on disk");
    settle(500);

    // The dialog is built at its first use, which is not the export's stall.
    QTimer::singleShot(0, [] {
        if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
            dialog->reject();
    });
    h.action("actionExport")->trigger();
    settle(300);

    QTemporaryDir dir(folder() + "/tarvex-bench-XXXXXX");
    const QString name = dir.filePath("export.edf");
    StallMonitor stalls;
    stalls.start();
    QTimer::singleShot(0, [&] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            fail("no export dialog");
        dialog->findChild<QLineEdit *>(QStringLiteral("exportRate"))->setText("1000");
        dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(name);
        static_cast<QDialog *>(dialog)->accept();
    });
    const Clock::time_point t0 = Clock::now();
    h.action("actionExport")->trigger();
    runUntil([&] { return h.status().startsWith("Exported") || h.status().isEmpty(); }, 600,
             "export");
    const double seconds = secondsSince(t0);
    report("export_during_stream_max_stall", stalls.stop(), "ms");
    report("export_during_stream_capture", double(filled) / MB, "MB");
    report("export_during_stream_seconds", seconds, "s");
    feeder->stop();
}

const Registered registeredThroughput(
    {"export-throughput",
     "export",
     {{"export-mb", "Capture of 3-channel lines exported as CSV and EDF+", 200, 20}},
     throughput});
const Registered registeredDuringStream(
    {"export-during-stream",
     "export",
     {{"stall-export-mb", "Capture exported as EDF+ while 400 KB/s streams in", 200, 10}},
     duringStream});

} // namespace
