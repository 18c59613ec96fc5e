// tarvex-pty-feed: the device end of the peer comparison (bench/peers/run). Streams into a
// pseudo-terminal with PtyFeeder and measures the programs that read it over one window of time:
// their CPU time and RSS from /proc, and how many bytes they drained from the pty.

#include "ptyfeeder.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QStringList>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

QString procFile(int pid, const char *name)
{
    QFile f(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(name)));
    return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll()) : QString();
}

// utime + stime of the whole process (all its threads), in seconds; -1 once it is gone.
double cpuSeconds(int pid)
{
    // The command name may hold spaces; the fields after it, from field 3 on, do not.
    const QString stat = procFile(pid, "stat");
    const QStringList fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (stat.isEmpty() || fields.size() < 13)
        return -1;
    return (fields[11].toDouble() + fields[12].toDouble())
        / static_cast<double>(sysconf(_SC_CLK_TCK));
}

long long residentKb(int pid)
{
    const QStringList words = procFile(pid, "status").simplified().split(' ');
    const int at = words.indexOf(QStringLiteral("VmRSS:"));
    return at >= 0 && at + 1 < words.size() ? words[at + 1].toLongLong() : -1;
}

// CPU of each process, what was written and what waits in the pty, at one moment.
struct Mark
{
    Clock::time_point at;
    std::vector<double> cpu;
    std::uint64_t written = 0;
    int queued = 0;
    bool ok = true;
};

Mark mark(const PtyFeeder &feeder, const std::vector<int> &pids)
{
    Mark m;
    for (int pid : pids) {
        m.cpu.push_back(cpuSeconds(pid));
        m.ok = m.ok && m.cpu.back() >= 0;
    }
    m.at = Clock::now();
    // Read the queue first: a byte written in between then counts as drained for a moment at
    // most, never twice.
    m.queued = feeder.queuedAtHost();
    m.written = feeder.written();
    return m;
}

void sleepFor(double seconds)
{
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

} // namespace

int main(int argc, char *argv[])
{
    // Blocked before any other thread exists, so that only sigtimedwait() below takes it.
    sigset_t usr1;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &usr1, nullptr);

    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Opens a pseudo-terminal, prints its path on the first line, streams into it and, once\n"
        "streaming, measures the processes listed in --pids-file: after --warmup seconds and\n"
        "again --seconds later. Then prints one line of key=value figures and exits.");
    parser.addHelpOption();
    parser.addOptions({
        {"rate", "Bytes per second; 0 writes as fast as the pty takes them (0).", "B", "0"},
        {"content",
         "lines (numbered, ending in CRLF), noline (no line ends) or numbers (lines of numbers).",
         "KIND", "lines"},
        {"channels", "Numbers a line, for numbers (1).", "N", "1"},
        {"line-bytes", "Line length, CRLF included (64).", "N", "64"},
        {"write-bytes", "Largest single write; 1 gives one byte per write (65536).", "N", "65536"},
        {"tick-ms", "Paced writes wait until this much is due (1).", "X", "1"},
        {"start", "s: stream once the program sends \"s\"; signal: once SIGUSR1 comes.", "HOW",
         "s"},
        {"pids-file", "Process ids to measure, one a line, read when measuring.", "FILE"},
        {"warmup", "Seconds of streaming before the window (3).", "S", "3"},
        {"seconds", "Length of the window (30).", "S", "30"},
        {"burst-bytes", "Written first, as fast as the pty takes them (0).", "N", "0"},
        {"drop-when-full",
         "After the burst, drop what the pty has no room for, as a line without flow control\n"
         "does; each loss is printed on stderr as \"drop t=UNIX-SECONDS total=BYTES\"."},
        {"mark-command",
         "Run through the shell right after each of the two marks, with \"first\" or \"last\"\n"
         "as its argument (for a profiler that counts only within the window).",
         "CMD"},
    });
    parser.process(app);
    PtyFeeder::Options o;
    o.bytesPerSecond = parser.value("rate").toDouble();
    const QString content = parser.value("content");
    o.content = content == "noline" ? PtyFeeder::Content::NoLineEnds
        : content == "numbers"      ? PtyFeeder::Content::Numbers
                                    : PtyFeeder::Content::Lines;
    o.channels = parser.value("channels").toInt();
    o.lineBytes = parser.value("line-bytes").toUInt();
    o.writeBytes = parser.value("write-bytes").toUInt();
    o.tickSeconds = parser.value("tick-ms").toDouble() / 1000;
    o.waitForStart = parser.value("start") != "signal";
    o.burstBytes = parser.value("burst-bytes").toULongLong();
    o.dropWhenFull = parser.isSet("drop-when-full");
    if (!parser.isSet("pids-file"))
        parser.showHelp(2);

    PtyFeeder feeder(o);
    std::string error;
    if (!feeder.open(&error)) {
        std::fprintf(stderr, "tarvex-pty-feed: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", feeder.path().c_str());
    std::fflush(stdout);

    const timespec timeout{60, 0};
    if (!o.waitForStart && sigtimedwait(&usr1, nullptr, &timeout) != SIGUSR1) {
        std::printf("error=no-start-signal\n");
        return 3;
    }
    feeder.start();
    // Tells on stderr, with the wall clock's time, when the burst is done and what was lost when.
    std::thread reporter([&feeder, &o] {
        const auto unixSeconds = [] {
            return std::chrono::duration<double>(
                       std::chrono::system_clock::now().time_since_epoch())
                .count();
        };
        bool burstDone = o.burstBytes == 0;
        std::uint64_t dropped = 0;
        for (;;) {
            if (!burstDone && feeder.written() >= o.burstBytes) {
                burstDone = true;
                std::fprintf(stderr, "burst_done t=%.3f\n", unixSeconds());
            }
            if (feeder.dropped() != dropped) {
                dropped = feeder.dropped();
                std::fprintf(stderr, "drop t=%.3f total=%llu\n", unixSeconds(),
                             static_cast<unsigned long long>(dropped));
            }
            std::fflush(stderr);
            sleepFor(0.005);
        }
    });
    reporter.detach();
    for (const Clock::time_point start = Clock::now(); !feeder.streaming(); sleepFor(0.01)) {
        if (Clock::now() - start > std::chrono::seconds(60)) {
            std::printf("error=never-started\n");
            return 3;
        }
    }

    sleepFor(parser.value("warmup").toDouble());
    std::vector<int> pids;
    QFile pidsFile(parser.value("pids-file"));
    if (pidsFile.open(QIODevice::ReadOnly))
        for (const QByteArray &line : pidsFile.readAll().split('\n'))
            if (line.toInt() > 0)
                pids.push_back(line.toInt());
    if (pids.empty()) {
        std::printf("error=no-pids\n");
        return 3;
    }
    const std::string markCommand = parser.value("mark-command").toStdString();
    const auto marked = [&](const char *which) {
        if (!markCommand.empty() && std::system((markCommand + " " + which).c_str()) != 0)
            std::fprintf(stderr, "tarvex-pty-feed: the mark command failed (%s)\n", which);
    };
    const Mark first = mark(feeder, pids);
    marked("first");
    sleepFor(parser.value("seconds").toDouble());
    const Mark last = mark(feeder, pids);
    marked("last");
    if (!first.ok || !last.ok) {
        std::printf("error=program-exited\n");
        return 3;
    }

    // CPU and RSS of each process, in the order of the pids file.
    std::string cpuEach;
    std::string rssEach;
    for (std::size_t i = 0; i < pids.size(); ++i) {
        const char *comma = i ? "," : "";
        cpuEach += comma + std::to_string(last.cpu[i] - first.cpu[i]);
        rssEach += comma + std::to_string(residentKb(pids[i]));
    }
    const double wall = std::chrono::duration<double>(last.at - first.at).count();
    const auto drained
        = static_cast<long long>(last.written - first.written) - (last.queued - first.queued);
    std::printf("wall_s=%.3f drained_bytes=%lld cpu_each_s=%s rss_each_kb=%s\n", wall, drained,
                cpuEach.c_str(), rssEach.c_str());
    std::fflush(stdout);
    return 0;
}
