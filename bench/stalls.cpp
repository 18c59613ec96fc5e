// The event loop's longest stall while a long capture is saved during a stream, and during each
// thing a user does while the device streams.

#include "bench.h"

#include "app/mainwindow.h"
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

const Registered
    registeredSave({"save-during-stream",
                    "stalls",
                    {{"stall-capture-mb", "Capture size saved during a stream", 1000, 20}},
                    saveDuringStream});
const Registered registeredActions({"actions", "stalls", {}, actions});

} // namespace
