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
      "  --unplug-after S     unplug S seconds (decimals allowed) after starting or coming back:\n"
      "                       once the host has read what is on the line, close the\n"
      "                       pseudo-terminal and remove the --link, as udev removes\n"
      "                       /dev/serial/by-id/...; then come back on a new pseudo-terminal\n"
      "                       and point the --link at it (needs --link)\n"
      "  --away S             how long an unplug lasts (default 2)\n"
      "  --unplugs N          how many times to unplug (default 1; 0: again and again)\n"
      "  --return-idle        come back idle, as a device that lost its power; by default it\n"
      "                       comes back as it was, streaming on if it streamed\n"
      "  --return-as ID       come back as another device. A pseudo-terminal has no USB\n"
      "                       identity: the identity claimed (default tarvex-devsim) is written\n"
      "                       to LINK.identity, for tests that check it\n"
      "  --fast               do not pace to the line speed the host set; send as fast as "
      "possible\n"
      "  --log FILE           write every byte the host sends to FILE, raw\n"
      "                       (default: describe each byte on standard error)\n"
      "  --help               show this help\n"
      "\n"
      "Runs until interrupted (Ctrl+C) or, after --hangup-after, until the device hangs up.\n"
      "While unplugged, whatever the device would send is not sent, and the host finds no\n"
      "device at the link; a host that opens the link again after the return reads on from\n"
      "there.\n";

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

// Seconds with up to three decimals, as milliseconds.
bool parseSeconds(const std::string &text, std::uint64_t *ms)
{
    const std::size_t dot = text.find('.');
    const std::string whole = text.substr(0, dot);
    std::string fraction = dot == std::string::npos ? std::string() : text.substr(dot + 1);
    unsigned long long w = 0;
    unsigned long long f = 0;
    if (fraction.size() > 3 || (whole.empty() && fraction.empty()))
        return false;
    if (!whole.empty() && !parseNumber(whole, 1000000, &w))
        return false;
    fraction.resize(3, '0'); // "5" is 500 ms
    if (!parseNumber(fraction, 999, &f))
        return false;
    *ms = w * 1000 + f;
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
        } else if (arg == "--unplug-after" || arg == "--away") {
            if (!takeValue())
                return "option " + arg + " needs a value";
            std::uint64_t ms = 0;
            if (!parseSeconds(value, &ms) || (arg == "--unplug-after" && ms == 0))
                return "invalid value '" + value + "' for " + arg
                    + " (expected seconds, e.g. 2 or 0.5, at most 1000000)";
            (arg == "--away" ? options->device.awayMs : options->device.unplugAfterMs) = ms;
        } else if (arg == "--unplugs") {
            problem = number(std::numeric_limits<std::uint32_t>::max(), 0, &n);
            options->device.unplugCount = n;
        } else if (arg == "--return-idle") {
            if (hasValue)
                return "option --return-idle takes no value";
            options->device.returnIdle = true;
        } else if (arg == "--return-as") {
            if (!takeValue() || value.empty())
                return "option --return-as needs an identity";
            options->device.identityOnReturn = value;
        } else if (arg == "--hangup-after") {
            problem = number(std::numeric_limits<std::uint64_t>::max(), 1, &n);
            options->device.hangupAfter = n;
        } else {
            return "unknown option '" + std::string(argv[i]) + "'";
        }
        if (!problem.empty())
            return problem;
    }
    if (options->device.unplugAfterMs > 0 && options->link.empty())
        return "option --unplug-after needs --link: the stable path the device comes back under";
    return {};
}

// The identity the device claims, beside its link.
void writeIdentity(const std::string &link, const std::string &identity)
{
    if (link.empty())
        return;
    const std::string name = link + ".identity";
    if (std::FILE *file = std::fopen(name.c_str(), "w")) {
        std::fprintf(file, "%s\n", identity.c_str());
        std::fclose(file);
    }
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

    writeIdentity(options.link, device.identity());

    device.setEventHandler([&device, &options, log](const devsim::Event &event) {
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
        case devsim::Event::Unplugged:
            std::fprintf(stderr, "tarvex-devsim: unplugged after %llu bytes in total\n",
                         static_cast<unsigned long long>(device.bytesSent()));
            break;
        case devsim::Event::Replugged:
            writeIdentity(options.link, device.identity());
            std::fprintf(stderr, "tarvex-devsim: back on %s, %s\n", event.data.c_str(),
                         device.streaming() ? "streaming" : "idle");
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
    if (!options.link.empty())
        std::remove((options.link + ".identity").c_str());
    if (log)
        std::fclose(log);
    if (caughtSignal != 0)
        std::fprintf(stderr, "tarvex-devsim: %s, exiting\n", strsignal(caughtSignal));
    return 0;
}
