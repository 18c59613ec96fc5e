// How long the program takes from its launch to its main window shown: this program started
// again as a probe that does what tarvex-terminal's main() does.

#include "bench.h"

#include "app/mainwindow.h"

#include <QApplication>
#include <QProcess>
#include <QWindow>

#include <cstdio>
#include <cstdlib>

namespace {

using namespace bench;

const char SpawnVariable[] = "TARVEX_BENCH_SPAWN_NS";

std::int64_t nowNs()
{
    // The steady clock is the system's monotonic one: the same in every process.
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

// Waits for the first expose of a window, then takes the time once the event loop is idle
// again: the expose paints the window before the next event is looked at.
class ExposeWatch : public QObject
{
protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!seen && event->type() == QEvent::Expose && watched->isWindowType()
            && static_cast<QWindow *>(watched)->isExposed()) {
            seen = true;
            QTimer::singleShot(0, [] {
                const char *spawn = std::getenv(SpawnVariable);
                std::printf("%.3f\n",
                            spawn ? static_cast<double>(nowNs() - std::atoll(spawn)) / 1e6 : -1.0);
                QCoreApplication::exit(0);
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool seen = false;
};

void probe()
{
    ExposeWatch watch;
    QCoreApplication::instance()->installEventFilter(&watch);
    MainWindow window;
    window.show();
    std::exit(QApplication::exec());
}

void startup()
{
    std::vector<double> shown;
    for (int i = 0; i < setting("startup-runs"); ++i) {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(SpawnVariable, QString::number(nowNs()));
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {"--figure", "startup-probe"});
        const bool finished = child.waitForFinished(60000) && child.exitCode() == 0;
        bool ok = false;
        const double ms = child.readAllStandardOutput().trimmed().toDouble(&ok);
        if (!finished || !ok)
            fail("the start-up probe failed");
        shown.push_back(ms);
    }
    report("startup_p50", median(shown), "ms");
    report("startup_max", percentile(shown, 100), "ms");
    report("startup_runs", static_cast<double>(shown.size()), "count");
}

const Registered registered(
    {"startup", "startup", {{"startup-runs", "Launches of the start-up probe", 20, 3}}, startup});
const Registered registeredProbe({"startup-probe", nullptr, {}, probe});

} // namespace
