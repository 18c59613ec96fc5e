// tarvex-devsim: a simulated Tarvex device on a pseudo-terminal, for trying the terminal without
// hardware.

#include "simulateddevice.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include <poll.h>
#include <pthread.h>

namespace {

const char kUsage[]
    = "Usage: tarvex-devsim [options]\n"
      "Simulates a Tarvex muscle-activity device on a pseudo-terminal and prints its path.\n"
      "Open that path as a serial port and send \"s\" to start or stop the data stream.\n"
      "\n"
      "Options:\n"
      "  --link PATH          also create a symbolic link PATH to the device (removed at exit)\n"
      "  --pattern KIND       samples (default): EMG values in microvolts, one line per sample, "
      "CRLF;\n"
      "                       test: a UTF-8 test pattern with multi-byte characters, NULs and "
      "CRLFs\n"
      "  --rate N             samples per second in samples mode (default 1000)\n"
      "  --channels N         values per line in samples mode, comma-separated (default 1, "
      "at most 64)\n"
      "  --seed N             seed of the noise and test pattern (default 1)\n"
      "  --bytes N            stop streaming after N bytes in total\n"
      "  --hangup-after N     vanish like an unplugged adapter after sending N bytes, then exit\n"
      "  --fast               do not pace to the line speed the host set; send as fast as "
      "possible\n"
      "  --log FILE           write every byte the host sends to FILE, raw\n"
      "                       (default: describe each byte on standard error)\n"
      "  --help               show this help\n"
      "\n"
      "Runs until interrupted (Ctrl+C) or, after --hangup-after, until the device hangs up.\n";

volatile std::sig_atomic_t caughtSignal = 0;

extern "C" void onSignal(int signal)
{
    caughtSignal = signal;
}

struct CliOptions
{
    devsim::DeviceOptions device;
    std::string link;
    std::string logFile;
};

bool parseNumber(const std::string &text, unsigned long long max, unsigned long long *out)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    errno = 0;
    const unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
    if (errno == ERANGE || value > max)
        return false;
    *out = value;
    return true;
}

// Returns an empty string on success, else the message to show.
std::string parseArguments(int argc, char **argv, CliOptions *options, bool *help)
{
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        bool hasValue = false;
        const std::size_t eq = arg.find('=');
        if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg.resize(eq);
            hasValue = true;
        }
        auto takeValue = [&]() -> bool {
            if (hasValue)
                return true;
            if (i + 1 >= argc)
                return false;
            value = argv[++i];
            return true;
        };
        auto number = [&](unsigned long long max, unsigned long long min,
                          unsigned long long *out) -> std::string {
            if (!takeValue())
                return "option " + arg + " needs a value";
            if (!parseNumber(value, max, out) || *out < min)
                return "invalid value '" + value + "' for " + arg
                    + " (expected a whole number from " + std::to_string(min) + " to "
                    + std::to_string(max) + ")";
            return {};
        };

        unsigned long long n = 0;
        std::string problem;
        if (arg == "--help" || arg == "-h") {
            *help = true;
        } else if (arg == "--fast") {
            if (hasValue)
                return "option --fast takes no value";
            options->device.fast = true;
        } else if (arg == "--link" || arg == "--log") {
            if (!takeValue() || value.empty())
                return "option " + arg + " needs a path";
            (arg == "--link" ? options->link : options->logFile) = value;
        } else if (arg == "--pattern") {
            if (!takeValue())
                return "option --pattern needs a value";
            if (value == "samples")
                options->device.pattern = devsim::Pattern::Samples;
            else if (value == "test")
                options->device.pattern = devsim::Pattern::TestPattern;
            else
                return "invalid value '" + value + "' for --pattern (expected samples or test)";
        } else if (arg == "--rate") {
            problem = number(1000000, 1, &n);
            options->device.sampleRate = static_cast<int>(n);
        } else if (arg == "--channels") {
            problem = number(64, 1, &n);
            options->device.channels = static_cast<int>(n);
        } else if (arg == "--seed") {
            problem = number(std::numeric_limits<std::uint32_t>::max(), 0, &n);
            options->device.seed = static_cast<std::uint32_t>(n);
        } else if (arg == "--bytes") {
            problem = number(std::numeric_limits<std::uint64_t>::max(), 1, &n);
            options->device.totalBytes = n;
        } else if (arg == "--hangup-after") {
            problem = number(std::numeric_limits<std::uint64_t>::max(), 1, &n);
            options->device.hangupAfter = n;
        } else {
            return "unknown option '" + std::string(argv[i]) + "'";
        }
        if (!problem.empty())
            return problem;
    }
    return {};
}

std::string describeByte(unsigned char c)
{
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02x", c);
    const char *escape = nullptr;
    switch (c) {
    case '\0':
        escape = "\\0";
        break;
    case '\t':
        escape = "\\t";
        break;
    case '\n':
        escape = "\\n";
        break;
    case '\r':
        escape = "\\r";
        break;
    case '\'':
        escape = "\\'";
        break;
    case '\\':
        escape = "\\\\";
        break;
    default:
        break;
    }
    if (escape)
        return std::string("'") + escape + "' (" + hex + ")";
    if (c >= 0x20 && c < 0x7f)
        return std::string("'") + static_cast<char>(c) + "' (" + hex + ")";
    return hex;
}

} // namespace

int main(int argc, char **argv)
{
    CliOptions options;
    bool help = false;
    const std::string problem = parseArguments(argc, argv, &options, &help);
    if (!problem.empty()) {
        std::fprintf(stderr, "tarvex-devsim: %s\nTry 'tarvex-devsim --help'.\n", problem.c_str());
        return 2;
    }
    if (help) {
        std::fputs(kUsage, stdout);
        return 0;
    }

    std::FILE *log = nullptr;
    if (!options.logFile.empty()) {
        log = std::fopen(options.logFile.c_str(), "wb");
        if (!log) {
            std::fprintf(stderr, "tarvex-devsim: cannot open %s: %s\n", options.logFile.c_str(),
                         std::strerror(errno));
            return 1;
        }
    }

    devsim::SimulatedDevice device(options.device);
    std::string error;
    if (!device.open(&error)) {
        std::fprintf(stderr, "tarvex-devsim: %s\n", error.c_str());
        return 1;
    }
    if (!options.link.empty() && !device.linkTo(options.link, &error)) {
        std::fprintf(stderr, "tarvex-devsim: %s\n", error.c_str());
        return 1;
    }

    device.setEventHandler([&device, log](const devsim::Event &event) {
        switch (event.kind) {
        case devsim::Event::Received:
            if (log) {
                std::fwrite(event.data.data(), 1, event.data.size(), log);
                std::fflush(log);
            } else {
                for (char c : event.data)
                    std::fprintf(stderr, "rx: %s\n",
                                 describeByte(static_cast<unsigned char>(c)).c_str());
            }
            break;
        case devsim::Event::StreamingOn:
            std::fprintf(stderr, "tarvex-devsim: streaming started\n");
            break;
        case devsim::Event::StreamingOff:
            std::fprintf(stderr, "tarvex-devsim: streaming stopped after %llu bytes in total\n",
                         static_cast<unsigned long long>(device.bytesSent()));
            break;
        case devsim::Event::LimitReached:
            std::fprintf(stderr, "tarvex-devsim: sent all %llu bytes; streaming stopped\n",
                         static_cast<unsigned long long>(device.bytesSent()));
            break;
        case devsim::Event::HungUp:
            std::fprintf(stderr, "tarvex-devsim: hung up after %llu bytes\n",
                         static_cast<unsigned long long>(device.bytesSent()));
            break;
        }
    });

    // The device thread inherits a blocked mask, so the signals land on this thread.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    for (int s : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&stopSignals, s);
    struct sigaction action
    { };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (int s : {SIGINT, SIGTERM, SIGHUP})
        sigaction(s, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    device.start();
    pthread_sigmask(SIG_UNBLOCK, &stopSignals, nullptr);

    std::printf("%s\n", device.path().c_str());
    std::fflush(stdout);

    while (caughtSignal == 0 && !device.hungUp())
        ::poll(nullptr, 0, 50);

    device.stop();
    if (log)
        std::fclose(log);
    if (caughtSignal != 0)
        std::fprintf(stderr, "tarvex-devsim: %s, exiting\n", strsignal(caughtSignal));
    return 0;
}
