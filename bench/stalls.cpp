// The event loop's longest stall while a long capture is saved during a stream, and during each
// thing a user does while the device streams.

#include "bench.h"

#include "app/mainwindow.h"
#include "plot/plotdock.h"
#include "plot/plotview.h"
#include "serial/capturesaver.h"
#include "serial/capturestore.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QTemporaryDir>

#include <algorithm>

namespace {

using namespace bench;

// The window against a 400 KB/s stream of lines, capturing.
struct Streaming
{
    Streaming()
    {
        PtyFeeder::Options o;
        o.bytesPerSecond = 400000;
        feeder = openFeeder(o);
        h.connectTo(feeder->path(), "4000000");
        h.startStop();
        runUntil([this] { return feeder->streaming(); }, 10, "stream start");
        settle(500);
    }
    ~Streaming() { feeder->stop(); }
    Streaming(const Streaming &) = delete;
    Streaming &operator=(const Streaming &) = delete;

    std::unique_ptr<PtyFeeder> feeder;
    Harness h;
};

// Closes the modal window that opens next, after ms, the way a user would.
void closeModalAfter(int ms)
{
    QTimer::singleShot(ms, [] {
        if (QWidget *modal = QApplication::activeModalWidget())
            modal->close();
    });
}

void saveDuringStream()
{
    Streaming s;
    fillStore(s.h.store(), static_cast<std::uint64_t>(setting("stall-capture-mb") * MB));
    QTemporaryDir dir(folder() + "/tarvex-bench-XXXXXX");
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
    const Clock::time_point t0 = Clock::now();
    s.h.action("actionSave")->trigger();
    runUntil([&] { return !s.h.saver()->isBusy(); }, 600, "save");
    const double seconds = secondsSince(t0);
    report("save_during_stream_max_stall", stalls.stop(), "ms");
    report("save_during_stream_capture", static_cast<double>(QFileInfo(name).size()) / MB, "MB");
    report("save_during_stream_seconds", seconds, "s");
}

void actions()
{
    Streaming s;
    MainWindow *window = s.h.mainWindow();
    const auto modal = [&](const char *action) {
        return [&s, action] {
            closeModalAfter(300);
            s.h.action(action)->trigger();
        };
    };
    const std::vector<std::pair<const char *, std::function<void()>>> steps = {
        {"streaming_only", [] {}},
        {"menu",
         [&] {
             QMenu *menu = window->menuBar()->actions().at(1)->menu();
             menu->popup(window->mapToGlobal(QPoint(40, 20)));
             settle(300);
             menu->close();
         }},
        {"about_box", modal("actionAbout")},
        {"about_qt_box", modal("actionAboutQt")},
        {"save_dialog", modal("actionSave")},
        {"clear", [&] { s.h.action("actionClear")->trigger(); }},
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
        {"disconnect_connect",
         [&] {
             s.h.action("actionDisconnect")->trigger();
             settle(100);
             s.h.connectTo(s.feeder->path(), "4000000");
         }},
    };
    StallMonitor stalls;
    for (const auto &[name, run] : steps) {
        settle(300);
        stalls.start();
        run();
        settle(500);
        report(std::string("stall_") + name, stalls.stop(), "ms");
    }
}

// The longest stall of each step, one step after another, each given settleMs to show.
std::vector<double> stallsOfSteps(const std::vector<std::function<void()>> &steps, int settleMs)
{
    StallMonitor stalls;
    std::vector<double> each;
    for (const auto &step : steps) {
        stalls.start();
        step();
        settle(settleMs);
        each.push_back(stalls.stop());
    }
    return each;
}

void reportDistribution(const std::string &name, const std::vector<double> &each)
{
    report(name + "_p50", percentile(each, 50), "ms");
    report(name + "_p90", percentile(each, 90), "ms");
    report(name + "_max", percentile(each, 100), "ms");
    const auto over = std::count_if(each.begin(), each.end(), [](double ms) { return ms > 20; });
    report(name + "_over20", double(over), ("of " + std::to_string(each.size())).c_str());
}

// Many resizes, a maximise and the save dialog, each step's stall on its own, with the plot
// hidden, docked and floating: a stall that comes once in twenty steps shows in the maximum.
void resizes()
{
    Streaming s;
    MainWindow *window = s.h.mainWindow();
    auto *dock = window->findChild<PlotDock *>();
    const int jumps = int(setting("resize-steps"));
    std::vector<std::function<void()>> jumpSteps;
    for (int i = 0; i < jumps; ++i)
        jumpSteps.emplace_back(
            [window, i] { window->resize(i % 2 ? QSize(1024, 700) : QSize(1200, 900)); });
    // A drag of a window's corner: a new size every 16 ms, 8 pixels each way.
    std::vector<std::function<void()>> dragSteps;
    for (int i = 0; i < 3 * jumps; ++i)
        dragSteps.emplace_back([window, i] {
            const int at = i % 60 < 30 ? i % 30 : 30 - i % 30;
            window->resize(800 + 16 * at, 560 + 12 * at);
        });
    std::vector<std::function<void()>> maximiseSteps;
    for (int i = 0; i < jumps / 4 + 1; ++i)
        maximiseSteps.emplace_back([window, i] {
            if (i % 2)
                window->showNormal();
            else
                window->showMaximized();
        });
    std::vector<std::function<void()>> dialogSteps;
    for (int i = 0; i < 5; ++i)
        dialogSteps.emplace_back([&s] {
            closeModalAfter(200);
            s.h.action("actionSave")->trigger();
        });

    for (const char *plot : {"hidden", "docked", "floating"}) {
        if (plot == std::string("docked")) {
            s.h.action("actionPlot")->trigger();
            runUntil([&] { return dock->view()->isVisible(); }, 10, "plot shown");
        } else if (plot == std::string("floating")) {
            dock->setFloating(true);
            runUntil([&] { return dock->isWindow() && dock->isVisible(); }, 10, "plot floating");
        }
        window->resize(1024, 700);
        settle(300);
        const std::string prefix = std::string("stalls_plot_") + plot + "_";
        reportDistribution(prefix + "resize", stallsOfSteps(jumpSteps, 100));
        reportDistribution(prefix + "drag", stallsOfSteps(dragSteps, 16));
        reportDistribution(prefix + "maximise", stallsOfSteps(maximiseSteps, 200));
        reportDistribution(prefix + "save_dialog", stallsOfSteps(dialogSteps, 300));
        window->showNormal();
    }
}

const Registered registeredResizes({"resizes",
                                    "stalls",
                                    {{"resize-steps",
                                      "Resizes between two sizes per case; the drag has three "
                                      "times as many steps",
                                      40, 12}},
                                    resizes});
const Registered
    registeredSave({"save-during-stream",
                    "stalls",
                    {{"stall-capture-mb", "Capture size saved during a stream", 1000, 20}},
                    saveDuringStream});
const Registered registeredActions({"actions", "stalls", {}, actions});

} // namespace
