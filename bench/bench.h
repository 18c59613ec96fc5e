#ifndef BENCH_H
#define BENCH_H

#include "ptyfeeder.h"
#include "windowprobe.h"

#include <QString>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class CaptureStore;
class MainWindow;

// What the figures of tarvex-bench share: their registry and settings, the window they drive
// and the ways they measure it.
namespace bench {

using Clock = std::chrono::steady_clock;
constexpr double MB = 1e6;

// A number a figure reads from the command line (--NAME N): its value in a full run and with
// --quick. Figures may share one by naming it alike.
struct Setting
{
    const char *name;
    const char *help;
    double full;
    double quick;
};

// One figure family's measurement; each runs in a child process of its own, so that the heap
// one figure freed cannot hide another's growth.
struct Figure
{
    const char *name;
    const char *family; // --only picks figures by name or by family; null: only --figure
    std::vector<Setting> settings;
    std::function<void()> run;
    bool byDefault = true; // false: only when --only names it
};

// Registers a figure; each figure file holds one static Registered per figure.
struct Registered
{
    explicit Registered(Figure figure);
};
std::vector<Figure> &figures();

// The value of a setting for this run, and the folder that figures write into (--dir).
double setting(const char *name);
QString folder();

// One figure per line: name, value, unit.
void report(const std::string &name, double value, const char *unit);
[[noreturn]] void fail(const std::string &message);

double percentile(std::vector<double> values, double p);
inline double median(const std::vector<double> &values)
{
    return percentile(values, 50);
}
double secondsSince(Clock::time_point start);
// CPU time of the calling thread: unlike wall time, barely moved by other load on the machine.
double threadCpuSeconds();
long long residentBytes();

// Runs the event loop until done() holds; a modal box means the program hit an error.
void runUntil(const std::function<bool()> &done, double timeoutSeconds, const char *what);
void settle(int ms);

std::unique_ptr<PtyFeeder> openFeeder(const PtyFeeder::Options &options);

// The main window shown offscreen, and the clicks a user would make on it.
class Harness : public testkit::WindowProbe
{
public:
    Harness();
    ~Harness();

    // Fails the figure if the port does not open at that rate.
    void connectTo(const std::string &path, const QString &baud);
    MainWindow *mainWindow() const { return window.get(); }

    // What Start, a wait until the store holds that many bytes, and Stop took.
    struct Capture
    {
        double seconds; // from the press to the delivery that filled the store
        double cpuSeconds; // of the GUI thread, over the same span
        double deliveries;
    };
    Capture timedCapture(std::uint64_t bytes);

    // What the GUI thread did over `seconds` of the feeder's stream, from a press of Start; the
    // feeder is stopped after.
    struct Stream
    {
        double seconds;
        double cpuSeconds;
        double maxStallMs;
        int stallsOver50;
        double megabytes; // what the feeder wrote
    };
    Stream timedStream(PtyFeeder &feeder, double seconds);
};

// A stream's stall and CPU figures, named PREFIX_max_stall and so on.
void report(const std::string &prefix, const Harness::Stream &stream);

// Bytes in the store of the window that the bench drives.
std::uint64_t storedBytes();

// Fills a store straight away, as a long capture of the feeder's lines would have, and waits
// until all of it is on disk.
void fillStore(CaptureStore *store, std::uint64_t bytes);

// How long the event loop goes without running a 1 ms timer.
class StallMonitor
{
public:
    StallMonitor();
    void start();
    // The longest gap since start().
    double stop();

    double maxGapMs = 0;
    int over50 = 0;

private:
    QTimer timer;
    Clock::time_point started;
    Clock::time_point last;
    double lastWaitedMs = 0;
};

} // namespace bench

#endif // BENCH_H
