#include "bench.h"

#include "app/mainwindow.h"
#include "serial/capturestore.h"

#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QSerialPort>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include <unistd.h>

namespace bench {

namespace {
CaptureStore *currentStore = nullptr;

// Time this thread spent runnable but not running, from the scheduler's statistics.
double waitedForCpuMs()
{
    QFile stat(QStringLiteral("/proc/thread-self/schedstat"));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = stat.readAll().split(' ');
    return fields.size() > 1 ? fields.at(1).toDouble() / 1e6 : 0;
}
} // namespace

std::vector<Figure> &figures()
{
    static std::vector<Figure> all;
    return all;
}

Registered::Registered(Figure figure)
{
    figures().push_back(std::move(figure));
}

void report(const std::string &name, double value, const char *unit)
{
    const double magnitude = std::fabs(value);
    const int decimals = magnitude >= 100 ? 0 : magnitude >= 10 ? 1 : magnitude >= 1 ? 2 : 3;
    std::printf("%s %.*f %s\n", name.c_str(), decimals, value, unit);
    std::fflush(stdout);
}

void fail(const std::string &message)
{
    std::fflush(stdout);
    std::fprintf(stderr, "tarvex-bench: %s\n", message.c_str());
    std::_Exit(2);
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto index
        = static_cast<std::size_t>(std::lround(p / 100.0 * static_cast<double>(values.size() - 1)));
    return values[std::min(index, values.size() - 1)];
}

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double threadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

long long residentBytes()
{
    std::FILE *f = std::fopen("/proc/self/statm", "r");
    long long pages = 0;
    long long resident = -1;
    if (f && std::fscanf(f, "%lld %lld", &pages, &resident) != 2)
        resident = -1;
    if (f)
        std::fclose(f);
    return resident < 0 ? -1 : resident * sysconf(_SC_PAGESIZE);
}

void runUntil(const std::function<bool()> &done, double timeoutSeconds, const char *what)
{
    const Clock::time_point start = Clock::now();
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (QWidget *modal = QApplication::activeModalWidget())
            fail("the program opened a dialog: " + modal->windowTitle().toStdString());
        if (done() || secondsSince(start) > timeoutSeconds)
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

std::unique_ptr<PtyFeeder> openFeeder(const PtyFeeder::Options &options)
{
    auto feeder = std::make_unique<PtyFeeder>(options);
    std::string error;
    if (!feeder->open(&error))
        fail(error);
    feeder->start();
    return feeder;
}

Harness::Harness()
{
    openWindow();
    currentStore = store();
    window->resize(1024, 700);
    window->show();
    settle(50);
}

Harness::~Harness()
{
    currentStore = nullptr;
}

void Harness::connectTo(const std::string &path, const QString &baud)
{
    if (!testkit::settingsDialog())
        fail("no settings dialog");
    testkit::LineChoice line;
    line.baud = baud;
    if (!WindowProbe::connectTo(QString::fromStdString(path), line)
        || port()->baudRate() != baud.toInt())
        fail("could not open " + path + " at " + baud.toStdString() + " baud");
}

Harness::Capture Harness::timedCapture(std::uint64_t bytes)
{
    bool done = false;
    double deliveries = 0;
    Clock::time_point end;
    double cpuEnd = 0;
    // Connected after the window's own slot, so that the clock stops once the store is full.
    const QMetaObject::Connection watch = QObject::connect(port(), &QSerialPort::readyRead, [&] {
        ++deliveries;
        if (!done && storedBytes() >= bytes) {
            end = Clock::now();
            cpuEnd = threadCpuSeconds();
            done = true;
        }
    });
    const double cpu0 = threadCpuSeconds();
    const Clock::time_point t0 = Clock::now();
    startStop();
    runUntil([&] { return done; }, 600, "ingest");
    startStop();
    QObject::disconnect(watch);
    return {std::chrono::duration<double>(end - t0).count(), cpuEnd - cpu0, deliveries};
}

Harness::Stream Harness::timedStream(PtyFeeder &feeder, double seconds)
{
    StallMonitor stalls;
    const double cpu0 = threadCpuSeconds();
    startStop();
    runUntil([&] { return feeder.streaming(); }, 10, "stream start");
    stalls.start();
    const Clock::time_point t0 = Clock::now();
    settle(static_cast<int>(seconds * 1000));
    const double elapsed = secondsSince(t0);
    const double cpu = threadCpuSeconds() - cpu0;
    stalls.stop();
    feeder.stop();
    settle(200);
    return {elapsed, cpu, stalls.maxGapMs, stalls.over50, double(feeder.written()) / MB};
}

void report(const std::string &prefix, const Harness::Stream &stream)
{
    report(prefix + "_max_stall", stream.maxStallMs, "ms");
    report(prefix + "_stalls_over_50ms", stream.stallsOver50, "count");
    report(prefix + "_gui_cpu", 100 * stream.cpuSeconds / stream.seconds, "%");
    report(prefix + "_gui_cpu_per_mb", stream.cpuSeconds / stream.megabytes, "cpu-s/MB");
}

std::uint64_t storedBytes()
{
    return currentStore ? static_cast<std::uint64_t>(currentStore->size()) : 0;
}

void fillStore(CaptureStore *store, std::uint64_t bytes)
{
    const std::size_t block = 1 << 20;
    QByteArray text(static_cast<int>(block), Qt::Uninitialized);
    PtyFeeder::fill(PtyFeeder::Options(), 0, text.data(), block);
    for (std::uint64_t at = 0; at < bytes; at += block) {
        store->append(text.left(static_cast<int>(std::min<std::uint64_t>(block, bytes - at))));
        QCoreApplication::processEvents();
    }
    store->flush();
    // A stream may go on meanwhile: what was filled is enough.
    const qint64 filled = store->size();
    runUntil([&] { return store->sizeOnDisk() >= filled; }, 600, "capture on disk");
}

StallMonitor::StallMonitor()
{
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(1);
    QObject::connect(&timer, &QTimer::timeout, [this] {
        const Clock::time_point now = Clock::now();
        const double gap = std::chrono::duration<double, std::milli>(now - last).count();
        maxGapMs = std::max(maxGapMs, gap);
        over50 += gap > 50 ? 1 : 0;
        // When it happened, and how long the thread waited for a CPU meanwhile, tell a busy
        // machine from work in the program.
        const double waited = waitedForCpuMs();
        if (gap > 20)
            std::fprintf(stderr,
                         "tarvex-bench: a stall of %.0f ms (%.0f ms of it waiting for a CPU), "
                         "%.2f s into the run\n",
                         gap, waited - lastWaitedMs,
                         std::chrono::duration<double>(now - started).count());
        lastWaitedMs = waited;
        last = now;
    });
}

void StallMonitor::start()
{
    maxGapMs = 0;
    over50 = 0;
    lastWaitedMs = waitedForCpuMs();
    started = last = Clock::now();
    timer.start();
}

double StallMonitor::stop()
{
    timer.stop();
    return maxGapMs;
}

} // namespace bench
