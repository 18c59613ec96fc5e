// tarvex-startup-probe: tarvex-terminal's main() plus a time stamp once the main window has
// been exposed and painted; prints it and exits.

#include "app/mainwindow.h"

#include <QApplication>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <unistd.h>

namespace {

std::int64_t clockNs(clockid_t clock)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Milliseconds since the kernel created this process (its start time has 10 ms steps).
double msSinceProcessStart()
{
    std::FILE *f = std::fopen("/proc/self/stat", "r");
    if (!f)
        return -1;
    char line[2048] = {};
    const bool read = std::fgets(line, sizeof line, f) != nullptr;
    std::fclose(f);
    const char *p = read ? std::strrchr(line, ')') : nullptr;
    if (!p)
        return -1;
    // Field 22, starttime; fields after the command name start with field 3.
    unsigned long long startTicks = 0;
    int field = 2;
    for (const char *tok = p + 1; *tok; ++tok) {
        if (*tok == ' ' && ++field == 22) {
            startTicks = std::strtoull(tok + 1, nullptr, 10);
            break;
        }
    }
    const double startNs
        = static_cast<double>(startTicks) * 1e9 / static_cast<double>(sysconf(_SC_CLK_TCK));
    return (static_cast<double>(clockNs(CLOCK_BOOTTIME)) - startNs) / 1e6;
}

// Waits for the first expose of a window, then takes the time once the event loop is idle again.
class ExposeWatch : public QObject
{
protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!seen && event->type() == QEvent::Expose && watched->isWindowType()
            && static_cast<QWindow *>(watched)->isExposed()) {
            seen = true;
            // The expose paints the window before the next event is looked at.
            QTimer::singleShot(0, [] {
                const double afterSpawn = [] {
                    const char *spawn = std::getenv("TARVEX_BENCH_SPAWN_NS");
                    return spawn
                        ? static_cast<double>(clockNs(CLOCK_MONOTONIC) - std::atoll(spawn)) / 1e6
                        : -1;
                }();
                std::printf("shown_after_spawn_ms %.2f shown_after_process_start_ms %.2f\n",
                            afterSpawn, msSinceProcessStart());
                std::fflush(stdout);
                QCoreApplication::exit(0);
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool seen = false;
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    ExposeWatch watch;
    app.installEventFilter(&watch);
    MainWindow window;
    window.show();
    return QApplication::exec();
}
