// tarvex-bench-pacing: how closely the simulated device keeps to the line speed and sample rate
// the host asks for. Prints one figure per line as "name value unit"; asserts nothing.

#include "benchutil.h"
#include "simulateddevice.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

const char Usage[] = "Usage: tarvex-bench-pacing [--seconds N]\n"
                     "Streams from the simulated device on a pseudo-terminal and prints the rate\n"
                     "it keeps, measured over N seconds per case (default 5), and that rate over\n"
                     "the one asked for.\n";

// One way of running the device, and the rate it should keep.
struct Case
{
    const char *name;
    devsim::Pattern pattern;
    speed_t speed;
    int sampleRate;
    bool countLines; // samples are counted as lines, the test pattern as bytes
    double expected; // per second
    const char *unit;
};

const Case Cases[] = {
    // 10 bits on the line per byte: start, 8 data, stop.
    {"pacing_test_pattern_9600_baud", devsim::Pattern::TestPattern, B9600, 1000, false, 960.0,
     "bytes/s"},
    {"pacing_100_samples_115200_baud", devsim::Pattern::Samples, B115200, 100, true, 100.0,
     "lines/s"},
};

[[noreturn]] void fail(const std::string &message)
{
    std::fflush(stdout);
    std::fprintf(stderr, "tarvex-bench-pacing: %s\n", message.c_str());
    std::exit(2);
}

// Opens the device's far end as a serial port would be opened: raw, at the given speed.
int openHost(const std::string &path, speed_t speed)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios tio{};
    if (fd < 0 || ::tcgetattr(fd, &tio) != 0)
        fail("cannot open " + path + ": " + std::strerror(errno));
    ::cfmakeraw(&tio);
    tio.c_cflag |= CREAD | CLOCAL;
    ::cfsetspeed(&tio, speed);
    if (::tcsetattr(fd, TCSANOW, &tio) != 0)
        fail("cannot set up " + path + ": " + std::strerror(errno));
    return fd;
}

// Reads what arrives until the deadline; counts bytes, or line ends.
std::uint64_t countUntil(int fd, Clock::time_point deadline, bool countLines)
{
    std::uint64_t count = 0;
    char buffer[4096];
    for (Clock::time_point now = Clock::now(); now < deadline; now = Clock::now()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, static_cast<int>(left.count()) + 1) <= 0)
            continue;
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            continue;
        if (!countLines)
            count += static_cast<std::uint64_t>(n);
        else
            for (ssize_t i = 0; i < n; ++i)
                count += buffer[i] == '\n' ? 1 : 0;
    }
    return count;
}

void measure(const Case &c, double seconds)
{
    devsim::DeviceOptions options;
    options.pattern = c.pattern;
    options.sampleRate = c.sampleRate;
    devsim::SimulatedDevice device(options);
    std::string error;
    if (!device.open(&error))
        fail(error);
    device.start();
    const int fd = openHost(device.path(), c.speed);
    if (::write(fd, "s", 1) != 1)
        fail("cannot send the start command");

    // Timed from the first byte, so that the start-up does not count.
    pollfd first{fd, POLLIN, 0};
    char byte = 0;
    if (::poll(&first, 1, 10000) != 1 || ::read(fd, &byte, 1) != 1)
        fail("the device sent nothing");
    const Clock::time_point start = Clock::now();
    const std::uint64_t count = countUntil(
        fd,
        start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds)),
        c.countLines);
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    ::close(fd);
    device.stop();

    const double rate = static_cast<double>(count) / elapsed;
    bench::report(c.name, rate, c.unit);
    bench::report(std::string(c.name) + "_of_asked", rate / c.expected, "ratio");
}

} // namespace

int main(int argc, char *argv[])
{
    double seconds = 5;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--seconds" && i + 1 < argc) {
            seconds = std::atof(argv[++i]);
        } else {
            std::fputs(Usage, arg == "--help" ? stdout : stderr);
            return arg == "--help" ? 0 : 2;
        }
    }
    if (seconds <= 0)
        fail("--seconds needs a positive number");
    for (const Case &c : Cases)
        measure(c, seconds);
    return 0;
}
