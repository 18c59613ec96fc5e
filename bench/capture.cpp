// tarvex-bench-capture: what a long capture costs. Prints one figure per line as
// "name value unit": the event loop's longest stall while a big capture is saved during a
// stream and during each user action, memory per captured byte, and save speed beside cp.

#include "benchutil.h"
#include "ptyfeeder.h"

#include "app/mainwindow.h"
#include "serial/capturefile.h"
#include "serial/capturesaver.h"
#include "serial/capturestore.h"
#include "settings/settingsdialog.h"
#include "windowdriver.h"

#include <QAction>
#include <QApplication>
#include <QCommandLineParser>
#include <QDialog>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
#include <QRandomGenerator>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>

namespace {

using bench::report;
constexpr double MB = 1e6;

[[noreturn]] void fail(const QString &message)
{
    std::fflush(stdout);
    std::fprintf(stderr, "tarvex-bench-capture: %s\n", qPrintable(message));
    std::_Exit(2);
}

// Runs the event loop until done() holds.
void runUntil(const std::function<bool()> &done, double timeoutSeconds, const char *what)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (double(clock.elapsed()) > timeoutSeconds * 1000)
            fail(QStringLiteral("timed out: ") + what);
    }
}

void settle(int ms)
{
    QElapsedTimer clock;
    clock.start();
    runUntil([&] { return clock.elapsed() >= ms; }, ms / 1000.0 + 60, "settle");
}

// The longest the event loop went without running a 1 ms timer.
class StallMonitor
{
public:
    StallMonitor()
    {
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(1);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            const double gap = double(since.nsecsElapsed()) / 1e6;
            maxGapMs = std::max(maxGapMs, gap);
            // When it happened, and how long the thread waited for a CPU meanwhile, tell a
            // busy machine from work in the program.
            const double waited = runQueueMs();
            if (gap > 20)
                std::fprintf(stderr,
                             "tarvex-bench-capture: a stall of %.0f ms (%.0f ms of it waiting for "
                             "a CPU), %.2f s in\n",
                             gap, waited - lastWaited, double(started.elapsed()) / 1000);
            lastWaited = waited;
            since.start();
        });
    }
    void start()
    {
        maxGapMs = 0;
        since.start();
        started.start();
        timer.start();
    }
    double stop()
    {
        timer.stop();
        return maxGapMs;
    }

private:
    QTimer timer;
    QElapsedTimer since;
    QElapsedTimer started;
    double maxGapMs = 0;
    double lastWaited = 0;

    // Time this thread spent runnable but not running, from the scheduler's statistics.
    static double runQueueMs()
    {
        QFile stat(QStringLiteral("/proc/thread-self/schedstat"));
        if (!stat.open(QIODevice::ReadOnly))
            return 0;
        const QList<QByteArray> fields = stat.readAll().split(' ');
        return fields.size() > 1 ? fields.at(1).toDouble() / 1e6 : 0;
    }
};

// Bytes the way a device sends them: 64-byte lines, or random bytes.
QByteArray makeBlock(qint64 offset, int size, bool binary)
{
    QByteArray block(size, Qt::Uninitialized);
    if (binary) {
        QRandomGenerator random{quint32(offset)};
        for (char &c : block)
            c = char(random.bounded(256));
    } else {
        PtyFeeder::Options o;
        PtyFeeder::fill(o, std::uint64_t(offset), block.data(), std::size_t(size));
    }
    return block;
}

// Fills the store straight away, as a long capture would have, and waits until it is on disk.
void fillStore(CaptureStore *store, qint64 bytes, bool binary)
{
    const int block = 1 << 20;
    const QByteArray text = makeBlock(0, block, binary);
    for (qint64 at = 0; at < bytes; at += block) {
        store->append(binary ? makeBlock(at, block, true) : text);
        QCoreApplication::processEvents();
    }
    store->flush();
    runUntil([&] { return store->sizeOnDisk() == store->size(); }, 600, "capture on disk");
}

// The window against a 400 KB/s stream of lines.
class StreamingWindow
{
public:
    StreamingWindow()
    {
        PtyFeeder::Options o;
        o.bytesPerSecond = 400000;
        feeder = std::make_unique<PtyFeeder>(o);
        std::string error;
        if (!feeder->open(&error))
            fail(QString::fromStdString(error));
        feeder->start();
        window = std::make_unique<MainWindow>();
        window->resize(1024, 700);
        window->show();
        connectPort();
        action("actionStart_Stop_2")->trigger();
        runUntil([this] { return feeder->streaming(); }, 10, "stream start");
        settle(500);
    }
    ~StreamingWindow() { feeder->stop(); }

    void connectPort()
    {
        testkit::LineChoice line;
        line.port = QString::fromStdString(feeder->path());
        line.baud = QStringLiteral("4000000");
        testkit::applySettings(line);
        action("actionConnect")->trigger();
        if (!window->findChild<QSerialPort *>()->isOpen())
            fail("could not open the line");
    }
    QAction *action(const char *name) const { return testkit::action(window.get(), name); }
    CaptureStore *store() const { return window->findChild<CaptureStore *>(); }
    CaptureSaver *saver() const { return window->findChild<CaptureSaver *>(); }

    std::unique_ptr<PtyFeeder> feeder;
    std::unique_ptr<MainWindow> window;
};

// Closes the modal window that opens next, after ms, the way a user would.
void closeModalAfter(int ms)
{
    QTimer::singleShot(ms, [] {
        if (QWidget *modal = QApplication::activeModalWidget())
            modal->close();
    });
}

void figureSaveStall(double captureMB, const QString &folder)
{
    StreamingWindow w;
    fillStore(w.store(), qint64(captureMB * MB), false);
    QTemporaryDir dir(folder + "/tarvex-bench-XXXXXX");
    const QString name = dir.filePath("capture.txt");
    StallMonitor stalls;
    stalls.start();
    QTimer::singleShot(0, [&] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            fail("no save dialog");
        dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(name);
        static_cast<QDialog *>(dialog)->accept();
    });
    QElapsedTimer clock;
    clock.start();
    w.action("actionSave")->trigger();
    runUntil([&] { return !w.saver()->isBusy(); }, 600, "save");
    const double seconds = double(clock.elapsed()) / 1000;
    report("save_during_stream_max_stall", stalls.stop(), "ms");
    report("save_during_stream_capture", double(QFileInfo(name).size()) / MB, "MB");
    report("save_during_stream_seconds", seconds, "s");
}

void figureActionStalls()
{
    StreamingWindow w;
    MainWindow *window = w.window.get();
    struct Step
    {
        const char *name;
        std::function<void()> run;
    };
    const std::vector<Step> steps = {
        {"streaming_only", [] {}},
        {"menu",
         [&] {
             QMenu *menu = window->menuBar()->actions().at(1)->menu();
             menu->popup(window->mapToGlobal(QPoint(40, 20)));
             settle(300);
             menu->close();
         }},
        {"about_box",
         [&] {
             closeModalAfter(300);
             w.action("actionAbout")->trigger();
         }},
        {"about_qt_box",
         [&] {
             closeModalAfter(300);
             w.action("actionAboutQt")->trigger();
         }},
        {"clear", [&] { w.action("actionClear")->trigger(); }},
        {"resize",
         [&] {
             for (int i = 0; i < 10; ++i) {
                 window->resize(600 + 60 * i, 400 + 40 * i);
                 settle(30);
             }
         }},
        {"maximize",
         [&] {
             window->showMaximized();
             settle(200);
             window->showNormal();
         }},
        {"save_dialog",
         [&] {
             closeModalAfter(500);
             w.action("actionSave")->trigger();
         }},
        {"disconnect_connect",
         [&] {
             w.action("actionDisconnect")->trigger();
             settle(100);
             w.connectPort();
         }},
    };
    StallMonitor stalls;
    for (const Step &step : steps) {
        settle(300);
        stalls.start();
        step.run();
        settle(500);
        report(std::string("stall_") + step.name, stalls.stop(), "ms");
    }
}

void figureMemory(int deliveryBytes, double captureMB, const QString &folder)
{
    CaptureStore store(folder + "/tarvex-bench-cache");
    const QByteArray source = makeBlock(0, 1 << 16, false);
    const auto bytes = qint64(captureMB * MB);
    qint64 done = 0;
    const auto capture = [&](qint64 until) {
        while (done < until) {
            for (int at = 0; at + deliveryBytes <= source.size() && done < until;
                 at += deliveryBytes, done += deliveryBytes)
                store.append(QByteArray::fromRawData(source.constData() + at, deliveryBytes));
            // No line is faster than the disk (4 Mbaud is 0.5 MB/s): let the writer keep up, as
            // it would, instead of measuring a backlog only this loop can make.
            QCoreApplication::processEvents();
            while (store.size() - store.sizeOnDisk() > (4 << 20))
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
    };
    // What the first bytes set up once (the thread, the file, the buffers) is not counted.
    const qint64 warmUp = bytes / 50;
    capture(warmUp);
    const long long rss0 = bench::residentBytes();
    QElapsedTimer clock;
    clock.start();
    capture(bytes);
    const long long rss1 = bench::residentBytes();
    const std::string name = "memory_" + std::to_string(deliveryBytes) + "B";
    report(name + "_per_byte", double(rss1 - rss0) / double(bytes - warmUp), "bytes/byte");
    report(name + "_capture", double(bytes) / MB, "MB");
    report(name + "_rate", double(bytes) / MB / (double(clock.elapsed()) / 1000), "MB/s");
    store.flush();
    runUntil([&] { return store.sizeOnDisk() == store.size(); }, 600, "capture on disk");
}

void figureThroughput(double captureMB, bool binary, const QString &folder)
{
    QTemporaryDir dir(folder + "/tarvex-bench-XXXXXX");
    CaptureStore store(dir.filePath("cache"));
    fillStore(&store, qint64(captureMB * MB), binary);
    const QString target = dir.filePath("saved.txt");
    std::vector<double> program;
    std::vector<double> cp;
    std::vector<double> cpSync;
    // Each run starts with nothing left to write back from the one before.
    const auto cleanSlate = [&] {
        QFile::remove(target);
        QProcess::execute(QStringLiteral("sync"), {});
    };
    const auto copy = [&](bool sync) {
        cleanSlate();
        QElapsedTimer clock;
        clock.start();
        if (QProcess::execute(QStringLiteral("cp"), {store.filePath(), target}) != 0
            || (sync && QProcess::execute(QStringLiteral("sync"), {target}) != 0))
            fail("cp failed");
        return double(store.size()) / MB / (double(clock.elapsed()) / 1000);
    };
    for (int run = 0; run < 3; ++run) {
        cleanSlate();
        QElapsedTimer clock;
        clock.start();
        if (CaptureFile::save(target, store.snapshot()).result != CaptureFile::SaveResult::Saved)
            fail("save failed");
        program.push_back(double(store.size()) / MB / (double(clock.elapsed()) / 1000));
        cp.push_back(copy(false));
        cpSync.push_back(copy(true));
    }
    const std::string name = binary ? "save_binary" : "save_text";
    report(name, bench::median(program), "MB/s");
    report(name + "_cp", bench::median(cp), "MB/s");
    report(name + "_ratio", bench::median(program) / bench::median(cp), "program/cp");
    // A save makes sure its file is on the disk before it replaces the old one; cp does not.
    report(name + "_cp_sync", bench::median(cpSync), "MB/s");
    report(name + "_ratio_synced", bench::median(program) / bench::median(cpSync),
           "program/(cp+sync)");
}

} // namespace

int main(int argc, char *argv[])
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "What a long capture costs: the event loop's longest stall while saving and during user "
        "actions, memory per captured byte, save speed beside cp.");
    parser.addHelpOption();
    const QCommandLineOption quick("quick", "Small sizes, for a smoke test.");
    const QCommandLineOption only("only", "One figure: stalls, memory, throughput.", "figure");
    const QCommandLineOption captureMB("capture-mb", "Capture size (1000).", "MB", "1000");
    const QCommandLineOption folder("dir", "Where captures and saves go.", "path",
                                    QDir::tempPath());
    parser.addOptions({quick, only, captureMB, folder});
    parser.process(app);
    const double size = parser.isSet(quick) ? 20 : parser.value(captureMB).toDouble();
    const QString dir = parser.value(folder);
    // Cache files go under the bench's folder, not the user's.
    qputenv("XDG_CACHE_HOME", QFile::encodeName(dir + "/tarvex-bench-cache-home"));
    const QString figure = parser.value(only);
    if (figure.isEmpty() || figure == "stalls") {
        figureActionStalls();
        figureSaveStall(size, dir);
    }
    if (figure.isEmpty() || figure == "memory") {
        for (int delivery : {4096, 64, 1})
            figureMemory(delivery, size, dir);
    }
    if (figure.isEmpty() || figure == "throughput") {
        figureThroughput(size, false, dir);
        figureThroughput(size, true, dir);
    }
    return 0;
}
