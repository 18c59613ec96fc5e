// tarvex-bench: drives the real main window offscreen against a pseudo-terminal and prints
// one figure per line as "name value unit".

#include "benchutil.h"
#include "ptyfeeder.h"

#include "app/mainwindow.h"
#include "console/console.h"
#include "serial/capturefile.h"
#include "serial/capturestore.h"
#include "serial/receivedtext.h"
#include "settings/settingsdialog.h"
#include "simulateddevice.h"
#include "windowdriver.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using bench::report;

const char Usage[]
    = "Usage: tarvex-bench [options]\n"
      "Drives the real main window offscreen against a pseudo-terminal and prints one figure\n"
      "per line: name value unit. Each figure runs in a child process of its own, so that the\n"
      "memory one starts from a clean heap.\n"
      "\n"
      "  --quick                small sizes, for a smoke test (about half a minute)\n"
      "  --only LIST            comma-separated figures: "
      "ingest,noline,memory,latency,save,startup\n"
      "  --runs N               runs of the ingest and save figures; the median is printed (3)\n"
      "  --ingest-mb N          store size the ingest figure fills (50)\n"
      "  --noline-seconds N     length of the no-line-end run (60)\n"
      "  --memory-mb N          capture size of the memory figure with 4 KB deliveries (200)\n"
      "  --memory-small-mb N    capture size of the memory figures with 64- and 16-byte\n"
      "                         deliveries (20); a fifth of it with 1-byte ones\n"
      "  --latency-seconds N    length of the latency run (20)\n"
      "  --save-mb N            capture size of the save figure (100)\n"
      "  --startup-runs N       launches of the start-up probe (20)\n"
      "  --dir PATH             where the save figure writes (the system temporary folder)\n"
      "  --soak DURATION        instead of the figures: a capture at 115200 baud for DURATION,\n"
      "                         e.g. 30m, 90s or 1h\n";

constexpr double MB = 1e6;

// How much each figure measures.
struct Sizes
{
    int runs = 3;
    double ingestMB = 50;
    double nolineSeconds = 60;
    double memoryMB = 200;
    double memorySmallMB = 20;
    double latencySeconds = 20;
    double saveMB = 100;
    int startupRuns = 20;
    double soakSeconds = 0;
    std::string dir;
};

[[noreturn]] void fail(const std::string &message)
{
    std::fflush(stdout);
    std::fprintf(stderr, "tarvex-bench: %s\n", message.c_str());
    std::_Exit(2);
}

// Runs the event loop until done() holds; a modal box means the program hit an error.
void runUntil(const std::function<bool()> &done, double timeoutSeconds, const char *what)
{
    const Clock::time_point deadline = Clock::now()
        + std::chrono::duration_cast<Clock::duration>(
                                           std::chrono::duration<double>(timeoutSeconds));
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (QWidget *modal = QApplication::activeModalWidget())
            fail(std::string("the program opened a dialog: ") + modal->windowTitle().toStdString());
        if (done() || Clock::now() > deadline)
            loop.quit();
    });
    poll.start(5);
    if (!done())
        loop.exec();
    if (!done())
        fail(std::string("timed out: ") + what);
}

void settle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The store of the window the bench drives, and how many deliveries the port made.
CaptureStore *currentStore = nullptr;
std::uint64_t deliveries = 0;

// The main window shown offscreen, and the clicks a user would make on it.
class Harness
{
public:
    Harness()
    {
        captureState = 0;
        portOpened = 0;
        window = std::make_unique<MainWindow>();
        currentStore = window->findChild<CaptureStore *>();
        QObject::connect(port(), &QSerialPort::readyRead, [] { ++deliveries; });
        window->resize(1024, 700);
        window->show();
        settle(50);
    }

    void connectTo(const std::string &path, const QString &baud)
    {
        if (!testkit::settingsDialog())
            fail("no settings dialog");
        testkit::LineChoice line;
        line.port = QString::fromStdString(path);
        line.baud = baud;
        testkit::applySettings(line);
        action("actionConnect")->trigger();
        if (!port()->isOpen())
            fail("could not open " + path);
        if (port()->baudRate() != baud.toInt())
            fail("the line speed was not applied");
    }

    void startStop() { action("actionStart_Stop_2")->trigger(); }
    QSerialPort *port() const { return window->findChild<QSerialPort *>(); }
    Console *console() const { return qobject_cast<Console *>(window->centralWidget()); }

private:
    QAction *action(const char *name) const
    {
        QAction *a = testkit::action(window.get(), name);
        if (!a)
            fail(std::string("no action ") + name);
        return a;
    }

    std::unique_ptr<MainWindow> window;
};

// Follows the store as the window fills it.
struct StoreCounter
{
    std::uint64_t chars = 0;

    void update() { chars = static_cast<std::uint64_t>(currentStore->size()); }
};

// Measures how long the event loop goes without running a 1 ms timer.
class StallMonitor
{
public:
    StallMonitor()
    {
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(1);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            const Clock::time_point now = Clock::now();
            const double gap = std::chrono::duration<double, std::milli>(now - last).count();
            maxGapMs = std::max(maxGapMs, gap);
            if (gap > 50) {
                ++over50;
                // When it happened tells a hiccup of the machine from work in the program.
                std::fprintf(stderr, "tarvex-bench: a stall of %.0f ms, %.1f s into the run\n", gap,
                             std::chrono::duration<double>(now - started).count());
            }
            last = now;
        });
    }
    void start()
    {
        started = last = Clock::now();
        timer.start();
    }
    void stop() { timer.stop(); }

    double maxGapMs = 0;
    int over50 = 0;

private:
    QTimer timer;
    Clock::time_point started;
    Clock::time_point last;
};

std::unique_ptr<PtyFeeder> openFeeder(const PtyFeeder::Options &options)
{
    auto feeder = std::make_unique<PtyFeeder>(options);
    std::string error;
    if (!feeder->open(&error))
        fail(error);
    feeder->start();
    return feeder;
}

// ---- 1. ingest --------------------------------------------------------------------------

// One ingest run's results.
struct IngestRun
{
    double wallMBps = 0;
    double cpuMBps = 0;
    double meanDelivery = 0;
};

IngestRun ingestProgram(std::uint64_t bytes)
{
    PtyFeeder::Options o;
    o.lineBytes = 64;
    o.totalBytes = bytes;
    auto feeder = openFeeder(o);
    Harness h;
    h.connectTo(feeder->path(), "4000000");

    StoreCounter store;
    bool done = false;
    Clock::time_point end;
    double cpuEnd = 0;
    QObject::connect(h.port(), &QSerialPort::readyRead, [&] {
        store.update();
        if (!done && store.chars >= bytes) {
            end = Clock::now();
            cpuEnd = bench::threadCpuSeconds();
            done = true;
        }
    });
    const double cpu0 = bench::threadCpuSeconds();
    const Clock::time_point t0 = Clock::now();
    h.startStop();
    runUntil([&] { return done; }, 600, "ingest");
    IngestRun r;
    const double seconds = std::chrono::duration<double>(end - t0).count();
    r.wallMBps = static_cast<double>(bytes) / MB / seconds;
    r.cpuMBps = static_cast<double>(bytes) / MB / (cpuEnd - cpu0);
    r.meanDelivery = static_cast<double>(store.chars) / static_cast<double>(deliveries);
    h.startStop();
    return r;
}

double ingestRaw(std::uint64_t bytes)
{
    PtyFeeder::Options o;
    o.lineBytes = 64;
    o.totalBytes = bytes;
    o.waitForStart = false;
    PtyFeeder feeder(o);
    std::string error;
    if (!feeder.open(&error))
        fail(error);
    const Clock::time_point t0 = Clock::now();
    feeder.start();
    std::vector<char> buffer(65536);
    std::uint64_t got = 0;
    while (got < bytes) {
        const ssize_t n = ::read(feeder.hostFd(), buffer.data(), buffer.size());
        if (n < 0 && errno != EINTR)
            fail("read failed");
        got += static_cast<std::uint64_t>(std::max<ssize_t>(n, 0));
    }
    return static_cast<double>(bytes) / MB
        / std::chrono::duration<double>(Clock::now() - t0).count();
}

void figureIngest(const Sizes &s)
{
    const auto bytes = static_cast<std::uint64_t>(s.ingestMB * MB) / 64 * 64;
    std::vector<double> wall;
    std::vector<double> cpu;
    std::vector<double> delivery;
    std::vector<double> raw;
    for (int i = 0; i < s.runs; ++i) {
        const IngestRun r = ingestProgram(bytes);
        wall.push_back(r.wallMBps);
        cpu.push_back(r.cpuMBps);
        delivery.push_back(r.meanDelivery);
        raw.push_back(ingestRaw(bytes));
    }
    report("ingest_program", bench::median(wall), "MB/s");
    report("ingest_program_gui_cpu", bench::median(cpu), "MB/cpu-s");
    report("ingest_raw_pty", bench::median(raw), "MB/s");
    report("ingest_ratio", bench::median(wall) / bench::median(raw), "program/raw");
    report("ingest_delivery_mean", bench::median(delivery), "bytes");
}

// ---- 2. no line ends at 400 KB/s --------------------------------------------------------

void figureNoLineEnds(const Sizes &s)
{
    PtyFeeder::Options o;
    o.content = PtyFeeder::Content::NoLineEnds;
    o.bytesPerSecond = 400000;
    auto feeder = openFeeder(o);
    Harness h;
    h.connectTo(feeder->path(), "4000000");

    StallMonitor stalls;
    double maxBacklog = 0;
    const auto backlog = [&] {
        return static_cast<double>(feeder->due() - feeder->written())
            + std::max(0, feeder->queuedAtHost()) + static_cast<double>(h.port()->bytesAvailable());
    };
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout,
                     [&] { maxBacklog = std::max(maxBacklog, backlog()); });

    const double cpu0 = bench::threadCpuSeconds();
    h.startStop();
    runUntil([&] { return feeder->streaming(); }, 10, "stream start");
    stalls.start();
    sampler.start(100);
    const Clock::time_point t0 = Clock::now();
    settle(static_cast<int>(s.nolineSeconds * 1000));
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    const double finalBacklog = backlog();
    maxBacklog = std::max(maxBacklog, finalBacklog);
    const double cpu = bench::threadCpuSeconds() - cpu0;
    stalls.stop();
    StoreCounter store;
    store.update();
    feeder->stop();

    report("noline_rate", static_cast<double>(store.chars) / 1000 / seconds, "KB/s");
    report("noline_max_stall", stalls.maxGapMs, "ms");
    report("noline_stalls_over_50ms", stalls.over50, "count");
    report("noline_backlog_final", finalBacklog, "bytes");
    report("noline_backlog_max", maxBacklog, "bytes");
    report("noline_gui_cpu", 100 * cpu / seconds, "%");
}

// ---- 3. memory per received byte --------------------------------------------------------

void figureMemory(const Sizes &s, std::size_t deliveryBytes)
{
    // Each small delivery is a round trip, so the smallest ones get a fifth of the size: still
    // large enough that what the first bytes set up once (about 1 MB) does not dominate.
    const double megabytes = deliveryBytes >= 4096 ? s.memoryMB
        : deliveryBytes == 1                       ? s.memorySmallMB / 5
                                                   : s.memorySmallMB;
    const auto bytes = static_cast<std::uint64_t>(megabytes * MB) / 64 * 64;
    PtyFeeder::Options o;
    o.lineBytes = 64;
    o.totalBytes = bytes;
    // Small deliveries: one write, then wait until the program has read it, so that each
    // delivery is one write. 4 KB ones come by themselves when the device outpaces the program:
    // a read returns at most what the pty's line buffer holds, 4 KB (a 4 KB write would reach
    // the program as two 2 KB pieces, the pty's unit of transfer).
    o.handshake = deliveryBytes < 4096;
    o.writeBytes = o.handshake ? deliveryBytes : 65536;
    auto feeder = openFeeder(o);
    Harness h;
    h.connectTo(feeder->path(), "4000000");

    StoreCounter store;
    QObject::connect(h.port(), &QSerialPort::readyRead, [&] {
        store.update();
        feeder->acknowledge(store.chars);
    });
    settle(100);
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
    const long long rss0 = bench::residentBytes();
    const Clock::time_point t0 = Clock::now();
    h.startStop();
    // The second half alone shows what each further byte costs, without what the first ones
    // set up once (the view's document, the port's buffer, the font's glyphs).
    runUntil([&] { return store.chars >= bytes / 2; }, 3600, "memory capture");
    const long long rssHalf = bench::residentBytes();
    const std::uint64_t charsHalf = store.chars;
    runUntil([&] { return store.chars >= bytes; }, 3600, "memory capture");
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    const long long rss1 = bench::residentBytes();

    const std::string name = "memory_" + std::to_string(deliveryBytes) + "B";
    report(name + "_growth_per_byte", static_cast<double>(rss1 - rss0) / static_cast<double>(bytes),
           "bytes/byte");
    report(name + "_second_half_per_byte",
           static_cast<double>(rss1 - rssHalf) / static_cast<double>(store.chars - charsHalf),
           "bytes/byte");
    report(name + "_rss_growth", static_cast<double>(rss1 - rss0) / MB, "MB");
    report(name + "_delivery_mean",
           static_cast<double>(store.chars) / static_cast<double>(deliveries), "bytes");
    report(name + "_entries", static_cast<double>(deliveries), "count");
    report(name + "_rate", static_cast<double>(bytes) / MB / seconds, "MB/s");
    h.startStop();
}

// ---- 4. latency at 115200 baud ----------------------------------------------------------

// Time stamps each line as it is painted: the view has then shown it.
class PaintWatch : public QObject
{
public:
    std::function<void()> onPaint;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && onPaint)
            onPaint();
        return QObject::eventFilter(watched, event);
    }
};

void figureLatency(const Sizes &s)
{
    constexpr std::size_t LineBytes = 16;
    PtyFeeder::Options o;
    o.lineBytes = LineBytes;
    o.bytesPerSecond = 115200 / 10.0;
    o.recordWrites = true;
    auto feeder = openFeeder(o);
    Harness h;
    h.connectTo(feeder->path(), "115200");

    // A line is in the console once a later block exists; its number is its first 12 characters.
    QTextDocument *doc = h.console()->document();
    long long lastSeen = -1;
    long long lastPainted = -1;
    std::vector<Clock::time_point> seenAt;
    std::vector<Clock::time_point> paintedAt;
    QObject::connect(doc, &QTextDocument::contentsChanged, [&] {
        const QTextBlock complete = doc->lastBlock().previous();
        if (!complete.isValid())
            return;
        bool ok = false;
        const long long number = complete.text().left(12).toLongLong(&ok);
        if (!ok || number <= lastSeen)
            return;
        const Clock::time_point now = Clock::now();
        for (; lastSeen < number; ++lastSeen)
            seenAt.push_back(now);
    });
    PaintWatch paints;
    paints.onPaint = [&] {
        const Clock::time_point now = Clock::now();
        for (; lastPainted < lastSeen; ++lastPainted)
            paintedAt.push_back(now);
    };
    h.console()->viewport()->installEventFilter(&paints);
    StallMonitor stalls;

    h.startStop();
    runUntil([&] { return feeder->streaming(); }, 10, "stream start");
    stalls.start();
    settle(static_cast<int>(s.latencySeconds * 1000));
    stalls.stop();
    feeder->stop();

    const std::vector<PtyFeeder::WriteMark> marks = feeder->marks();
    std::vector<double> seen;
    std::vector<double> painted;
    for (std::size_t line = 0; line < seenAt.size(); ++line) {
        const std::uint64_t lastByte = (line + 1) * LineBytes - 1;
        const auto mark = std::upper_bound(
            marks.begin(), marks.end(), lastByte,
            [](std::uint64_t offset, const PtyFeeder::WriteMark &m) { return offset < m.end; });
        if (mark == marks.end())
            break;
        seen.push_back(std::chrono::duration<double, std::milli>(seenAt[line] - mark->at).count());
        if (line < paintedAt.size())
            painted.push_back(
                std::chrono::duration<double, std::milli>(paintedAt[line] - mark->at).count());
    }
    report("latency_p50", bench::percentile(seen, 50), "ms");
    report("latency_p99", bench::percentile(seen, 99), "ms");
    report("latency_max", bench::percentile(seen, 100), "ms");
    report("latency_painted_p50", bench::percentile(painted, 50), "ms");
    report("latency_painted_p99", bench::percentile(painted, 99), "ms");
    report("latency_lines", static_cast<double>(seen.size()), "count");
    report("latency_max_stall", stalls.maxGapMs, "ms");
}

// ---- 5. save ----------------------------------------------------------------------------

void figureSave(const Sizes &s)
{
    QTemporaryDir dir(QString::fromStdString(s.dir.empty() ? QDir::tempPath().toStdString() : s.dir)
                      + "/tarvex-bench-XXXXXX");
    if (!dir.isValid())
        fail("cannot create a folder for the save figure");
    const QString fileName = dir.filePath("capture.txt");
    const auto bytes = static_cast<std::uint64_t>(s.saveMB * MB) / 64 * 64;

    for (std::size_t entryChars : {std::size_t(4096), std::size_t(64)}) {
        QList<QByteArray> chunks;
        {
            PtyFeeder::Options o;
            o.lineBytes = 64;
            std::vector<char> text(entryChars);
            chunks.reserve(static_cast<int>(bytes / entryChars + 1));
            for (std::uint64_t at = 0; at < bytes; at += entryChars) {
                const std::size_t n
                    = static_cast<std::size_t>(std::min<std::uint64_t>(entryChars, bytes - at));
                PtyFeeder::fill(o, at, text.data(), n);
                chunks.append(QByteArray(text.data(), static_cast<int>(n)));
            }
        }
        std::vector<double> wall;
        std::vector<double> cpu;
        for (int i = 0; i < s.runs; ++i) {
            QFile::remove(fileName);
            const double cpu0 = bench::threadCpuSeconds();
            const Clock::time_point t0 = Clock::now();
            if (CaptureFile::save(fileName, CaptureSnapshot(chunks)).result
                != CaptureFile::SaveResult::Saved)
                fail("save failed");
            const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
            const double cpuSeconds = bench::threadCpuSeconds() - cpu0;
            if (QFile(fileName).size() != static_cast<qint64>(bytes))
                fail("the saved file has the wrong size");
            wall.push_back(static_cast<double>(bytes) / MB / seconds);
            cpu.push_back(static_cast<double>(bytes) / MB / cpuSeconds);
        }
        const std::string name = "save_" + std::to_string(entryChars) + "B_entries";
        report(name, bench::median(wall), "MB/s");
        report(name + "_cpu", bench::median(cpu), "MB/cpu-s");
    }
}

// ---- child processes --------------------------------------------------------------------

std::string selfPath()
{
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        fail("cannot find my own executable");
    return std::string(path, static_cast<std::size_t>(n));
}

// Runs a program and collects its standard output; standard error passes through.
int runCollecting(const std::vector<std::string> &args, const std::vector<std::string> &extraEnv,
                  std::string *output)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        fail("pipe failed");
    std::vector<char *> argv;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0)
        fail("fork failed");
    if (pid == 0) {
        ::dup2(pipeFds[1], STDOUT_FILENO);
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        for (const std::string &e : extraEnv)
            ::putenv(const_cast<char *>(e.c_str()));
        ::execv(argv[0], argv.data());
        std::_Exit(127);
    }
    ::close(pipeFds[1]);
    char buf[4096];
    ssize_t n;
    while ((n = ::read(pipeFds[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0)
            output->append(buf, static_cast<std::size_t>(n));
    ::close(pipeFds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::int64_t monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// ---- 6. start-up ------------------------------------------------------------------------

bool figureStartup(const Sizes &s)
{
    const std::string self = selfPath();
    const std::string probe = self.substr(0, self.rfind('/') + 1) + "tarvex-startup-probe";
    std::vector<double> spawn;
    std::vector<double> kernel;
    for (int i = 0; i < s.startupRuns; ++i) {
        std::string out;
        const std::string env = "TARVEX_BENCH_SPAWN_NS=" + std::to_string(monotonicNs());
        if (runCollecting({probe}, {env}, &out) != 0)
            return false;
        double fromSpawn = 0;
        double fromKernel = 0;
        if (std::sscanf(out.c_str(), "shown_after_spawn_ms %lf shown_after_process_start_ms %lf",
                        &fromSpawn, &fromKernel)
            != 2)
            return false;
        spawn.push_back(fromSpawn);
        kernel.push_back(fromKernel);
    }
    report("startup_p50", bench::median(spawn), "ms");
    report("startup_max", bench::percentile(spawn, 100), "ms");
    report("startup_since_kernel_start_p50", bench::median(kernel), "ms");
    report("startup_runs", s.startupRuns, "count");
    return true;
}

// ---- soak -------------------------------------------------------------------------------

void soak(const Sizes &s)
{
    devsim::DeviceOptions o;
    o.pattern = devsim::Pattern::TestPattern;
    o.keepSent = true;
    // Ends on whole characters, so the saved file can be compared byte for byte.
    o.totalBytes = static_cast<std::uint64_t>(s.soakSeconds * 11520);
    devsim::SimulatedDevice device(o);
    std::string error;
    if (!device.open(&error))
        fail(error);
    device.start();
    Harness h;
    h.connectTo(device.path(), "115200");

    StallMonitor stalls;
    long long rssMax = 0;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout,
                     [&] { rssMax = std::max(rssMax, bench::residentBytes()); });
    settle(100);
    const long long rss0 = bench::residentBytes();
    h.startStop();
    runUntil([&] { return device.streaming(); }, 10, "stream start");
    stalls.start();
    sampler.start(1000);
    const long long rssEarly = [&] {
        settle(10000);
        return bench::residentBytes();
    }();
    runUntil([&] { return !device.streaming(); }, s.soakSeconds * 2 + 60, "soak");
    settle(500);
    stalls.stop();
    h.startStop();
    const long long rss1 = bench::residentBytes();

    QTemporaryDir dir(QString::fromStdString(s.dir.empty() ? QDir::tempPath().toStdString() : s.dir)
                      + "/tarvex-soak-XXXXXX");
    const QString fileName = dir.filePath("soak.txt");
    const bool saved = CaptureFile::save(fileName, currentStore->snapshot()).result
        == CaptureFile::SaveResult::Saved;
    QFile file(fileName);
    const QByteArray savedBytes
        = saved && file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    const std::string sent = device.sent();
    const bool identical = saved && savedBytes.size() == static_cast<int>(sent.size())
        && std::memcmp(savedBytes.constData(), sent.data(), sent.size()) == 0;

    report("soak_seconds", s.soakSeconds, "s");
    report("soak_bytes_sent", static_cast<double>(sent.size()), "bytes");
    report("soak_bytes_saved", savedBytes.size(), "bytes");
    report("soak_identical", identical ? 1 : 0, "bool");
    report("soak_entries", static_cast<double>(deliveries), "count");
    report("soak_delivery_mean",
           static_cast<double>(savedBytes.size()) / static_cast<double>(deliveries), "bytes");
    report("soak_rss_before_capture", static_cast<double>(rss0) / MB, "MB");
    report("soak_rss_after_10s", static_cast<double>(rssEarly) / MB, "MB");
    report("soak_rss_end", static_cast<double>(rss1) / MB, "MB");
    report("soak_rss_max", static_cast<double>(rssMax) / MB, "MB");
    report("soak_max_stall", stalls.maxGapMs, "ms");
    report("soak_stalls_over_50ms", stalls.over50, "count");
}

// ---- options ----------------------------------------------------------------------------

double parseDuration(const std::string &text)
{
    char *end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    const std::string unit = end ? end : "";
    if (end == text.c_str() || value <= 0)
        fail("bad duration " + text);
    if (unit.empty() || unit == "s")
        return value;
    if (unit == "m")
        return value * 60;
    if (unit == "h")
        return value * 3600;
    fail("bad duration " + text);
}

// The command line.
struct Options
{
    Sizes sizes;
    std::vector<std::string> only;
    std::string figure; // set in a child: run just this one
    std::vector<std::string> passOn; // size options for the children
};

Options parse(int argc, char *argv[])
{
    Options o;
    if (std::find(argv + 1, argv + argc, std::string("--quick")) != argv + argc) {
        o.passOn.push_back("--quick");
        o.sizes.runs = 1;
        o.sizes.ingestMB = 4;
        o.sizes.nolineSeconds = 3;
        o.sizes.memoryMB = 8;
        o.sizes.memorySmallMB = 0.5;
        o.sizes.latencySeconds = 3;
        o.sizes.saveMB = 8;
        o.sizes.startupRuns = 3;
    }
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                fail("option " + arg + " needs a value");
            return argv[++i];
        };
        const auto number = [&]() {
            const std::string text = value();
            o.passOn.insert(o.passOn.end(), {arg, text});
            char *end = nullptr;
            const double v = std::strtod(text.c_str(), &end);
            if (*end != '\0' || v <= 0)
                fail("bad value for " + arg);
            return v;
        };
        if (arg == "--help" || arg == "-h") {
            std::fputs(Usage, stdout);
            std::exit(0);
        } else if (arg == "--quick") {
            continue; // applied first, so that options after it or before it refine it
        } else if (arg == "--only") {
            std::string list = value();
            for (std::size_t from = 0; from <= list.size();) {
                const std::size_t comma = std::min(list.find(',', from), list.size());
                o.only.push_back(list.substr(from, comma - from));
                from = comma + 1;
            }
        } else if (arg == "--figure") {
            o.figure = value();
        } else if (arg == "--runs") {
            o.sizes.runs = static_cast<int>(number());
        } else if (arg == "--ingest-mb") {
            o.sizes.ingestMB = number();
        } else if (arg == "--noline-seconds") {
            o.sizes.nolineSeconds = number();
        } else if (arg == "--memory-mb") {
            o.sizes.memoryMB = number();
        } else if (arg == "--memory-small-mb") {
            o.sizes.memorySmallMB = number();
        } else if (arg == "--latency-seconds") {
            o.sizes.latencySeconds = number();
        } else if (arg == "--save-mb") {
            o.sizes.saveMB = number();
        } else if (arg == "--startup-runs") {
            o.sizes.startupRuns = static_cast<int>(number());
        } else if (arg == "--dir") {
            o.sizes.dir = value();
            o.passOn.insert(o.passOn.end(), {arg, o.sizes.dir});
        } else if (arg == "--soak") {
            o.sizes.soakSeconds = parseDuration(value());
        } else {
            fail("unknown option " + arg + " (see --help)");
        }
    }
    return o;
}

int runFigure(int argc, char *argv[], const Options &o)
{
    QApplication app(argc, argv);
    const std::map<std::string, std::function<void()>> figures = {
        {"ingest", [&] { figureIngest(o.sizes); }},
        {"noline", [&] { figureNoLineEnds(o.sizes); }},
        {"memory4k", [&] { figureMemory(o.sizes, 4096); }},
        {"memory64", [&] { figureMemory(o.sizes, 64); }},
        {"memory16", [&] { figureMemory(o.sizes, 16); }},
        {"memory1", [&] { figureMemory(o.sizes, 1); }},
        {"latency", [&] { figureLatency(o.sizes); }},
        {"save", [&] { figureSave(o.sizes); }},
        {"soak", [&] { soak(o.sizes); }},
    };
    const auto it = figures.find(o.figure);
    if (it == figures.end())
        fail("unknown figure " + o.figure);
    it->second();
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    // Offscreen whatever the caller's session: the figures must not depend on a display.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const Options o = parse(argc, argv);
    if (!o.figure.empty())
        return runFigure(argc, argv, o);

    std::vector<std::string> plan;
    if (o.sizes.soakSeconds > 0) {
        plan = {"soak"};
    } else {
        for (const char *name : {"ingest", "noline", "memory", "latency", "save", "startup"})
            if (o.only.empty() || std::find(o.only.begin(), o.only.end(), name) != o.only.end())
                plan.push_back(name);
    }
    int failures = 0;
    const std::string self = selfPath();
    for (const std::string &figure : plan) {
        if (figure == "startup") {
            if (!figureStartup(o.sizes)) {
                std::fprintf(stderr, "tarvex-bench: the start-up probe failed\n");
                ++failures;
            }
            continue;
        }
        const std::vector<std::string> children = figure == "memory"
            ? std::vector<std::string>{"memory4k", "memory64", "memory16", "memory1"}
            : std::vector<std::string>{figure};
        for (const std::string &child : children) {
            std::vector<std::string> args = {self, "--figure", child};
            args.insert(args.end(), o.passOn.begin(), o.passOn.end());
            if (figure == "soak")
                args.insert(args.end(), {"--soak", std::to_string(o.sizes.soakSeconds)});
            std::string out;
            const int status = runCollecting(args, {}, &out);
            std::fputs(out.c_str(), stdout);
            std::fflush(stdout);
            if (status != 0) {
                std::fprintf(stderr, "tarvex-bench: figure %s failed (status %d)\n", child.c_str(),
                             status);
                ++failures;
            }
        }
    }
    return failures == 0 ? 0 : 1;
}
