// A device unplugged and plugged back in behind a stable link: how soon the capture goes on
// after the device is back, and what waiting for one that does not come back costs.

#include "bench.h"

#include "serial/capturestore.h"
#include "simulateddevice.h"

#include <QAction>
#include <QApplication>
#include <QMessageBox>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>

namespace {

using namespace bench;

// Runs the event loop until done(); the box that tells of the loss is answered, any other fails.
void waitFor(const std::function<bool()> &done, double timeoutSeconds, const char *what)
{
    const Clock::time_point start = Clock::now();
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (QWidget *modal = QApplication::activeModalWidget()) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            if (!box || box->windowTitle() != QLatin1String("Critical Error"))
                fail("the program opened a dialog: " + modal->windowTitle().toStdString());
            box->close();
        }
        if (done() || secondsSince(start) > timeoutSeconds)
            loop.quit();
    });
    poll.start(1);
    if (!done())
        loop.exec();
    if (!done())
        fail(std::string("timed out: ") + what);
}

struct Unplugging
{
    QTemporaryDir dir;
    std::unique_ptr<devsim::SimulatedDevice> device;
    std::string link;
    std::atomic<std::int64_t> backAtNs{0};

    explicit Unplugging(devsim::DeviceOptions options)
    {
        if (!dir.isValid())
            fail("no temporary folder");
        link = dir.filePath(QStringLiteral("by-id-tarvex")).toStdString();
        device = std::make_unique<devsim::SimulatedDevice>(options);
        std::string error;
        if (!device->open(&error) || !device->linkTo(link, &error))
            fail(error);
        device->setEventHandler([this](const devsim::Event &event) {
            if (event.kind == devsim::Event::Replugged)
                backAtNs = Clock::now().time_since_epoch().count();
        });
        device->start();
    }
};

void reconnectTimes()
{
    devsim::DeviceOptions options;
    options.pattern = devsim::Pattern::TestPattern;
    Unplugging u(options);
    Harness h;
    h.connectTo(u.link, "115200");
    h.startStop();
    waitFor([&] { return storedBytes() > 0; }, 10, "stream start");
    std::vector<double> ms;
    const int unplugs = static_cast<int>(setting("unplugs"));
    for (int i = 0; i < unplugs; ++i) {
        u.device->unplug();
        waitFor([&] { return u.device->away() && !h.port()->isOpen(); }, 10, "loss");
        // Away for a varying part of a look, so that the returns fall anywhere between looks.
        settle(200 + 37 * (i % 8));
        const std::uint64_t before = storedBytes();
        u.backAtNs = 0;
        u.device->replug();
        waitFor([&] { return storedBytes() > before; }, 10, "first byte after the return");
        const Clock::time_point back{Clock::duration(u.backAtNs.load())};
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - back).count());
    }
    report("reconnect_first_byte_median", median(ms), "ms");
    report("reconnect_first_byte_worst", *std::max_element(ms.begin(), ms.end()), "ms");
    report("reconnect_unplugs", unplugs, "unplugs");
}

// The GUI thread's CPU over the same wait: idle, idle with a timer that does nothing twice a
// second, and waiting for a device that stays away.
void waitingCpu()
{
    const int ms = static_cast<int>(setting("wait-seconds") * 1000);
    Unplugging u({});
    Harness h;
    h.connectTo(u.link, "115200");
    h.action("actionDisconnect")->trigger();
    settle(200);
    double cpu0 = threadCpuSeconds();
    settle(ms);
    const double idle = threadCpuSeconds() - cpu0;
    // What the event loop's waking up twice a second costs by itself, to tell it from the looks.
    QTimer bare;
    QObject::connect(&bare, &QTimer::timeout, [] {});
    bare.start(500);
    cpu0 = threadCpuSeconds();
    settle(ms);
    const double woken = threadCpuSeconds() - cpu0;
    bare.stop();

    h.connectTo(u.link, "115200");
    u.device->unplug();
    waitFor([&] { return !h.port()->isOpen(); }, 10, "loss");
    settle(200);
    cpu0 = threadCpuSeconds();
    settle(ms);
    const double waiting = threadCpuSeconds() - cpu0;
    report("reconnect_wait_seconds", ms / 1000.0, "s");
    report("reconnect_idle_cpu", idle * 1000, "ms");
    report("reconnect_idle_woken_twice_a_second_cpu", woken * 1000, "ms");
    report("reconnect_waiting_cpu", waiting * 1000, "ms");
    report("reconnect_waiting_cpu_per_look", waiting * 1e6 / (ms / 500.0), "us");
}

const Registered times({"reconnect-first-byte",
                        "reconnect",
                        {{"unplugs", "Unplugs of a streaming device", 20, 3}},
                        reconnectTimes});
const Registered cpu({"reconnect-waiting-cpu",
                      "reconnect",
                      {{"wait-seconds", "Seconds waited idle, then for a lost device", 60, 2}},
                      waitingCpu});

} // namespace
