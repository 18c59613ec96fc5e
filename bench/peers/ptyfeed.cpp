// tarvex-pty-feed: the device end of the peer comparison (bench/peers/run). Streams into a
// pseudo-terminal with PtyFeeder and measures the programs that read it over one window of time:
// their CPU time and RSS from /proc, and how many bytes they drained from the pty.

#include "ptyfeeder.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

const char Usage[]
    = "Usage: tarvex-pty-feed [options]\n"
      "Opens a pseudo-terminal, prints its path on the first line, streams into it and, once\n"
      "streaming, measures the processes listed in --pids-file: after --warmup seconds and\n"
      "again --seconds later. Then prints one line of key=value figures and exits.\n"
      "\n"
      "  --rate B            bytes per second; 0 writes as fast as the pty takes them (0)\n"
      "  --content KIND      lines (numbered lines ending in CRLF) or noline (no line ends)\n"
      "  --line-bytes N      line length, CRLF included (64)\n"
      "  --write-bytes N     largest single write; 1 gives one byte per write (65536)\n"
      "  --tick-ms X         paced writes wait until this much is due (1)\n"
      "  --start HOW         s: stream once the program sends \"s\"; signal: once SIGUSR1 comes "
      "(s)\n"
      "  --pids-file FILE    process ids to measure, one a line, read when measuring\n"
      "  --warmup S          seconds of streaming before the window (3)\n"
      "  --seconds S         length of the window (30)\n"
      "  --start-timeout S   give up when streaming has not begun after this long (60)\n";

struct Config
{
    PtyFeeder::Options feed;
    bool startOnSignal = false;
    std::string pidsFile;
    double warmup = 3;
    double seconds = 30;
    double startTimeout = 60;
};

bool parse(int argc, char *argv[], Config *c)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(Usage, stdout);
            std::exit(0);
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "tarvex-pty-feed: %s needs a value or is unknown\n", arg.c_str());
            return false;
        }
        const std::string value = argv[++i];
        const double number = std::atof(value.c_str());
        if (arg == "--rate") {
            c->feed.bytesPerSecond = number;
        } else if (arg == "--content") {
            if (value != "lines" && value != "noline")
                return false;
            c->feed.content
                = value == "lines" ? PtyFeeder::Content::Lines : PtyFeeder::Content::NoLineEnds;
        } else if (arg == "--line-bytes") {
            c->feed.lineBytes = static_cast<std::size_t>(number);
        } else if (arg == "--write-bytes") {
            c->feed.writeBytes = static_cast<std::size_t>(number);
        } else if (arg == "--tick-ms") {
            c->feed.tickSeconds = number / 1000;
        } else if (arg == "--start") {
            if (value != "s" && value != "signal")
                return false;
            c->startOnSignal = value == "signal";
        } else if (arg == "--pids-file") {
            c->pidsFile = value;
        } else if (arg == "--warmup") {
            c->warmup = number;
        } else if (arg == "--seconds") {
            c->seconds = number;
        } else if (arg == "--start-timeout") {
            c->startTimeout = number;
        } else {
            std::fprintf(stderr, "tarvex-pty-feed: unknown option %s\n", arg.c_str());
            return false;
        }
    }
    c->feed.waitForStart = !c->startOnSignal;
    return !c->pidsFile.empty();
}

std::vector<int> readPids(const std::string &file)
{
    std::vector<int> pids;
    std::ifstream in(file);
    int pid = 0;
    while (in >> pid)
        pids.push_back(pid);
    return pids;
}

// utime + stime of the whole process (all its threads), in seconds; -1 once it is gone.
double cpuSeconds(int pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    if (!std::getline(in, stat))
        return -1;
    // The command name may hold spaces; the fields after it do not.
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    unsigned long long utime = 0;
    unsigned long long stime = 0;
    // Fields 3 to 13 (state ... cmajflt) come first.
    int skipped = 0;
    while (skipped < 11 && fields >> field)
        ++skipped;
    if (!(fields >> utime >> stime))
        return -1;
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

long long residentKb(int pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atoll(line.c_str() + 6);
    return -1;
}

struct Mark
{
    Clock::time_point at;
    std::vector<double> cpu; // per process
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
    Config config;
    if (!parse(argc, argv, &config)) {
        std::fputs(Usage, stderr);
        return 2;
    }

    // Blocked before the writer thread exists, so that only sigtimedwait() below takes it.
    sigset_t usr1;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &usr1, nullptr);

    PtyFeeder feeder(config.feed);
    std::string error;
    if (!feeder.open(&error)) {
        std::fprintf(stderr, "tarvex-pty-feed: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", feeder.path().c_str());
    std::fflush(stdout);

    const Clock::time_point deadline = Clock::now()
        + std::chrono::duration_cast<Clock::duration>(
                                           std::chrono::duration<double>(config.startTimeout));
    if (config.startOnSignal) {
        const auto seconds = static_cast<time_t>(config.startTimeout);
        const timespec timeout{seconds, 0};
        if (sigtimedwait(&usr1, nullptr, &timeout) != SIGUSR1) {
            std::printf("error=no-start-signal\n");
            return 3;
        }
    }
    feeder.start();
    while (!feeder.streaming()) {
        if (Clock::now() > deadline) {
            std::printf("error=never-started\n");
            return 3;
        }
        sleepFor(0.01);
    }

    sleepFor(config.warmup);
    const std::vector<int> pids = readPids(config.pidsFile);
    if (pids.empty()) {
        std::printf("error=no-pids\n");
        return 3;
    }
    const Mark first = mark(feeder, pids);
    sleepFor(config.seconds);
    const Mark last = mark(feeder, pids);
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
