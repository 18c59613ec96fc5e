#include "simulateddevice.h"

#include "generators.h"
#include "linespeed.h"
#include "pseudoterminal.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace devsim {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// How long a hang-up waits at most for the host to read what is already on the line.
constexpr auto kDrainLimit = 5s;
// How many times in a row a hang-up must find the line empty; see hostHasReadAll().
constexpr int kEmptyLooks = 8;
constexpr auto kSpeedRefresh = 100ms;
// Token buckets hold at most this much time's worth, so a stalled loop cannot burst.
constexpr double kBurstSeconds = 0.05;

std::string errnoText(const std::string &what)
{
    return what + ": " + std::strerror(errno);
}

} // namespace

struct SimulatedDevice::Private
{
    explicit Private(const DeviceOptions &options)
        : opt(options)
        , pattern(options.seed, patternLimit(options))
        , chunkRng(0x6368756E6B73ull ^ options.seed)
    {
        if (opt.chunkBytes == 0)
            opt.chunkBytes = 1;
        if (opt.sampleRate <= 0)
            opt.sampleRate = 1000;
        opt.channels = std::max(1, std::min(opt.channels, 64));
        // Channel 1 keeps the stream of a one-channel device; each other fires on its own.
        for (int c = 0; c < opt.channels; ++c)
            emg.emplace_back(options.seed + 7919u * static_cast<std::uint32_t>(c), opt.sampleRate);
    }

    static std::uint64_t patternLimit(const DeviceOptions &o)
    {
        if (o.totalBytes == 0 || o.hangupAfter == 0)
            return std::max(o.totalBytes, o.hangupAfter);
        return std::min(o.totalBytes, o.hangupAfter);
    }

    void run();
    void readInput();
    void produce(std::size_t budget, double &sampleTokens);
    std::size_t limitBudget(std::size_t budget) const;
    void afterWrite(const char *data, std::size_t size);
    bool hostHasReadAll() const;
    void drainAndHangUp();
    // Waits, bounded, until the host has read everything on the line.
    void drain();
    void unplugNow(Clock::time_point now);
    bool replugNow(Clock::time_point now);
    void closeFds();
    void removeLinks();
    void notify(Event::Kind kind, std::string data = {});
    LineSettings readSettings();

    DeviceOptions opt;
    int master = -1;
    int slave = -1; // closed under mutex: lineSettings() uses it from other threads
    int wake[2] = {-1, -1};
    std::string path;
    std::thread thread;
    EventHandler handler;

    std::atomic<bool> stopRequested{false};
    std::atomic<bool> streaming{false};
    std::atomic<bool> exhausted{false};
    std::atomic<bool> hungUp{false};
    std::atomic<bool> unplugRequested{false};
    std::atomic<bool> replugRequested{false};
    std::atomic<bool> away{false};
    std::atomic<std::uint64_t> unplugs{0};
    Clock::time_point nextUnplug;
    Clock::time_point returnAt;
    std::vector<std::string> stableLinks; // the links while away, to point at the next line
    std::atomic<std::uint64_t> bytesSent{0};

    mutable std::mutex mutex;
    std::string received;
    std::string sent;
    std::vector<std::string> links;
    LineSettings lastSettings;
    std::string identity;

    // Generator state lives here so that stop() and start() continue the same stream.
    detail::PatternStream pattern;
    std::vector<detail::EmgSignal> emg;
    detail::Rng chunkRng;
    std::string pending; // generated but not yet written
};

void SimulatedDevice::Private::notify(Event::Kind kind, std::string data)
{
    if (handler)
        handler(Event{kind, std::move(data)});
}

LineSettings SimulatedDevice::Private::readSettings()
{
    std::lock_guard<std::mutex> lock(mutex);
    termios tio{};
    if (slave < 0 || tcgetattr(slave, &tio) != 0)
        return lastSettings;
    LineSettings s;
    s.baudRate = std::max(0L, detail::lineSpeed(slave));
    switch (tio.c_cflag & CSIZE) {
    case CS5:
        s.dataBits = 5;
        break;
    case CS6:
        s.dataBits = 6;
        break;
    case CS7:
        s.dataBits = 7;
        break;
    default:
        s.dataBits = 8;
        break;
    }
    if (tio.c_cflag & PARENB) {
        const bool odd = (tio.c_cflag & PARODD) != 0;
        s.parity = odd ? 'O' : 'E';
#ifdef CMSPAR
        if (tio.c_cflag & CMSPAR)
            s.parity = odd ? 'M' : 'S';
#endif
    }
    s.stopBits = (tio.c_cflag & CSTOPB) ? 2 : 1;
#ifdef CRTSCTS
    s.rtsCts = (tio.c_cflag & CRTSCTS) != 0;
#endif
    s.xonXoff = (tio.c_iflag & (IXON | IXOFF)) != 0;
    lastSettings = s;
    return s;
}

void SimulatedDevice::Private::readInput()
{
    char buf[4096];
    const ssize_t n = ::read(master, buf, sizeof buf);
    if (n <= 0)
        return;
    std::string chunk(buf, static_cast<std::size_t>(n));
    {
        std::lock_guard<std::mutex> lock(mutex);
        received += chunk;
    }
    // Events split at each toggle so that a log shows the state change right after its "s".
    std::size_t from = 0;
    for (std::size_t i = 0; i < chunk.size(); ++i) {
        if (chunk[i] != 's' || exhausted)
            continue;
        notify(Event::Received, chunk.substr(from, i + 1 - from));
        from = i + 1;
        const bool on = !streaming;
        streaming = on;
        notify(on ? Event::StreamingOn : Event::StreamingOff);
    }
    if (from < chunk.size())
        notify(Event::Received, chunk.substr(from));
}

std::size_t SimulatedDevice::Private::limitBudget(std::size_t budget) const
{
    const std::uint64_t done = bytesSent;
    for (std::uint64_t limit : {opt.totalBytes, opt.hangupAfter}) {
        if (limit != 0)
            budget = static_cast<std::size_t>(
                std::min<std::uint64_t>(budget, limit > done ? limit - done : 0));
    }
    return budget;
}

void SimulatedDevice::Private::produce(std::size_t budget, double &sampleTokens)
{
    if (opt.pattern == Pattern::TestPattern) {
        if (pending.size() < budget)
            pattern.append(pending, budget - pending.size());
        return;
    }
    while (pending.size() < budget && (opt.fast || sampleTokens >= 1)) {
        for (std::size_t c = 0; c < emg.size(); ++c) {
            if (c > 0)
                pending += ',';
            pending += std::to_string(emg[c].next());
        }
        pending += "\r\n";
        if (!opt.fast)
            sampleTokens -= 1;
    }
}

void SimulatedDevice::Private::afterWrite(const char *data, std::size_t size)
{
    if (opt.keepSent) {
        std::lock_guard<std::mutex> lock(mutex);
        sent.append(data, size);
    }
    const std::uint64_t total = bytesSent += size;
    if (opt.totalBytes != 0 && total >= opt.totalBytes && !exhausted) {
        exhausted = true;
        streaming = false;
        notify(Event::LimitReached);
    }
}

void SimulatedDevice::Private::run()
{
    double byteTokens = 0;
    double sampleTokens = 0;
    long baud = 0;
    bool wasStreaming = false;
    Clock::time_point lastRefill = Clock::now();
    Clock::time_point lastSpeedRead = lastRefill;
    nextUnplug = lastRefill + std::chrono::milliseconds(opt.unplugAfterMs);
    const auto scheduled = [this] {
        return opt.unplugAfterMs > 0 && (opt.unplugCount == 0 || unplugs < opt.unplugCount);
    };

    while (!stopRequested) {
        const Clock::time_point now = Clock::now();
        if (!away && (unplugRequested || (scheduled() && now >= nextUnplug))) {
            unplugRequested = false;
            unplugNow(now);
            continue;
        }
        if (away) {
            const bool due = opt.unplugAfterMs > 0 && now >= returnAt;
            if (replugRequested || due) {
                replugRequested = false;
                if (!replugNow(Clock::now()))
                    break;
                // The host sets its speed on the new line once it opens it.
                wasStreaming = false;
                continue;
            }
            int waitMs = -1;
            if (opt.unplugAfterMs > 0)
                waitMs = static_cast<int>(
                    std::chrono::ceil<std::chrono::milliseconds>(returnAt - now).count());
            pollfd wakeFd{wake[0], POLLIN, 0};
            if (::poll(&wakeFd, 1, waitMs) > 0)
                pty::drain(wake[0]);
            continue;
        }
        const bool on = streaming;
        if (on && !wasStreaming) {
            // The host may have changed the speed while we were idle.
            baud = readSettings().baudRate;
            lastSpeedRead = lastRefill = now;
            byteTokens = sampleTokens = 0;
        } else if (on && now - lastSpeedRead >= kSpeedRefresh) {
            baud = readSettings().baudRate;
            lastSpeedRead = now;
        }
        wasStreaming = on;

        std::size_t toWrite = 0;
        int timeoutMs = -1;
        if (on) {
            std::size_t budget = 0;
            const double byteRate = static_cast<double>(baud) / 10.0;
            if (opt.fast) {
                // Random sizes so write boundaries land anywhere, inside characters too.
                budget = 1
                    + chunkRng.below(static_cast<std::uint32_t>(
                        std::min<std::size_t>(opt.chunkBytes, 1u << 30)));
            } else {
                const double dt = std::chrono::duration<double>(now - lastRefill).count();
                lastRefill = now;
                byteTokens
                    = std::min(byteTokens + dt * byteRate, std::max(1.0, byteRate * kBurstSeconds));
                sampleTokens = std::min(sampleTokens + dt * opt.sampleRate,
                                        std::max(1.0, opt.sampleRate * kBurstSeconds));
                budget = std::min(static_cast<std::size_t>(byteTokens), opt.chunkBytes);
            }
            budget = limitBudget(budget);
            produce(budget, sampleTokens);
            toWrite = std::min(budget, pending.size());
            timeoutMs = 100;
            if (toWrite == 0 && !opt.fast && byteRate > 0) {
                double waitSeconds = byteTokens < 1 ? (1 - byteTokens) / byteRate : 0;
                if (opt.pattern == Pattern::Samples && pending.empty() && sampleTokens < 1)
                    waitSeconds = std::max(waitSeconds, (1 - sampleTokens) / opt.sampleRate);
                timeoutMs = std::clamp(static_cast<int>(std::ceil(waitSeconds * 1000)), 1, 100);
            }
        }

        if (scheduled()) {
            const auto untilUnplug
                = std::chrono::ceil<std::chrono::milliseconds>(nextUnplug - now).count();
            const int bound = static_cast<int>(std::clamp<long long>(untilUnplug, 0, 100));
            timeoutMs = timeoutMs < 0 ? bound : std::min(timeoutMs, bound);
        }

        pollfd fds[2] = {{master, static_cast<short>(POLLIN | (toWrite > 0 ? POLLOUT : 0)), 0},
                         {wake[0], POLLIN, 0}};
        if (::poll(fds, 2, timeoutMs) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[1].revents & POLLIN) {
            pty::drain(wake[0]);
            continue;
        }
        if (fds[0].revents & POLLIN) {
            // Re-plan: the input may have switched the stream off.
            readInput();
            continue;
        }
        if ((fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) && !(fds[0].revents & POLLOUT)) {
            ::poll(&fds[1], 1, 10); // no host end at all; avoid spinning
            continue;
        }
        if (!(fds[0].revents & POLLOUT) || toWrite == 0 || !streaming)
            continue;

        const ssize_t written = ::write(master, pending.data(), toWrite);
        if (written < 0 && errno != EAGAIN && errno != EINTR)
            break; // would spin: poll keeps reporting a line that cannot be written
        if (written <= 0)
            continue; // the host is not reading; poll waits for room
        const std::size_t w = static_cast<std::size_t>(written);
        if (!opt.fast)
            byteTokens -= static_cast<double>(w);
        afterWrite(pending.data(), w);
        pending.erase(0, w);
        if (opt.hangupAfter != 0 && bytesSent >= opt.hangupAfter) {
            drainAndHangUp();
            return;
        }
    }
}

// Bytes written to the master reach the far end's read queue through a kernel worker, which
// under load can run many milliseconds late, and the hang-up discards both the queue and what
// is still on its way. FIONREAD counts only the queue, but it also waits for a read() in
// progress on the far end to finish, and poll() on the far end runs any pending hand-over
// before it looks. One gap is left: a host read() that has just emptied a full queue
// (4095 bytes) restarts the hand-over only as it returns. Each such miss costs the host a
// full queue and a pty holds well under 32 KB in flight, so kEmptyLooks empty looks in a row
// mean the host has read everything, however the threads are scheduled.
bool SimulatedDevice::Private::hostHasReadAll() const
{
    int queued = 0;
    if (::ioctl(slave, FIONREAD, &queued) != 0 || queued > 0)
        return false;
    pollfd far{slave, POLLIN, 0};
    return ::poll(&far, 1, 0) == 0;
}

void SimulatedDevice::Private::drain()
{
    const Clock::time_point deadline = Clock::now() + kDrainLimit;
    int emptyLooks = 0;
    while (!stopRequested && Clock::now() < deadline && emptyLooks < kEmptyLooks) {
        emptyLooks = hostHasReadAll() ? emptyLooks + 1 : 0;
        pollfd fds[2] = {{master, POLLIN, 0}, {wake[0], POLLIN, 0}};
        if (::poll(fds, 2, 5) > 0 && (fds[0].revents & POLLIN))
            readInput();
    }
}

void SimulatedDevice::Private::unplugNow(Clock::time_point now)
{
    // What the host could still read counts as delivered; what waited in the device is lost.
    drain();
    pending.clear();
    closeFds();
    {
        std::lock_guard<std::mutex> lock(mutex);
        stableLinks = links;
    }
    removeLinks();
    returnAt = now + std::chrono::milliseconds(opt.awayMs);
    ++unplugs;
    away = true;
    notify(Event::Unplugged);
}

bool SimulatedDevice::Private::replugNow(Clock::time_point now)
{
    int m = -1;
    int s = -1;
    std::string name;
    std::string error;
    if (!pty::openPair(&m, &s, &name, &error))
        return false;
    std::vector<std::string> linked;
    {
        std::lock_guard<std::mutex> lock(mutex);
        master = m;
        slave = s;
        path = name;
        if (!opt.identityOnReturn.empty())
            identity = opt.identityOnReturn;
        // Made beside the link and renamed over it, so that the host never finds it half made.
        for (const std::string &link : stableLinks) {
            const std::string made = link + ".new";
            ::unlink(made.c_str());
            if (::symlink(name.c_str(), made.c_str()) == 0
                && ::rename(made.c_str(), link.c_str()) == 0)
                linked.push_back(link);
        }
        links = linked;
    }
    if (opt.returnIdle)
        streaming = false;
    readSettings();
    nextUnplug = now + std::chrono::milliseconds(opt.unplugAfterMs);
    away = false;
    notify(Event::Replugged, name);
    return true;
}

void SimulatedDevice::Private::drainAndHangUp()
{
    exhausted = true;
    streaming = false;
    drain();
    closeFds();
    removeLinks(); // before hungUp(), so whoever sees the hang-up also sees the link gone
    hungUp = true;
    notify(Event::HungUp);
}

void SimulatedDevice::Private::closeFds()
{
    std::lock_guard<std::mutex> lock(mutex);
    pty::closeFd(&master);
    pty::closeFd(&slave);
}

void SimulatedDevice::Private::removeLinks()
{
    std::lock_guard<std::mutex> lock(mutex);
    for (const std::string &link : links) {
        // Leave it alone if someone has pointed it elsewhere meanwhile.
        char target[4096];
        const ssize_t n = ::readlink(link.c_str(), target, sizeof target);
        if (n >= 0 && std::string(target, static_cast<std::size_t>(n)) == path)
            ::unlink(link.c_str());
    }
    links.clear();
}

SimulatedDevice::SimulatedDevice(DeviceOptions options)
    : d(new Private(options))
{
    d->identity = d->opt.identity;
}

SimulatedDevice::~SimulatedDevice()
{
    stop();
    d->closeFds();
    d->removeLinks();
    pty::closeFd(&d->wake[0]);
    pty::closeFd(&d->wake[1]);
}

bool SimulatedDevice::open(std::string *error)
{
    auto fail = [error](const std::string &message) {
        if (error)
            *error = message;
        return false;
    };
    if (d->master >= 0 || d->hungUp)
        return fail("the device is already open");
    std::string message;
    if (!pty::openPair(&d->master, &d->slave, &d->path, &message))
        return fail(message);
    if (!pty::openWakePipe(d->wake, &message)) {
        d->closeFds();
        return fail(message);
    }
    d->readSettings();
    return true;
}

std::string SimulatedDevice::path() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->path;
}

void SimulatedDevice::unplug()
{
    d->unplugRequested = true;
    pty::wake(d->wake[1]);
}

void SimulatedDevice::replug()
{
    d->replugRequested = true;
    pty::wake(d->wake[1]);
}

bool SimulatedDevice::away() const
{
    return d->away;
}

std::uint64_t SimulatedDevice::unplugs() const
{
    return d->unplugs;
}

std::string SimulatedDevice::identity() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->identity;
}

void SimulatedDevice::setEventHandler(EventHandler handler)
{
    d->handler = std::move(handler);
}

void SimulatedDevice::start()
{
    if (d->thread.joinable() || d->master < 0)
        return;
    d->stopRequested = false;
    d->thread = std::thread(&Private::run, d.get());
}

void SimulatedDevice::stop()
{
    d->stopRequested = true;
    pty::wake(d->wake[1]);
    if (d->thread.joinable())
        d->thread.join();
}

bool SimulatedDevice::linkTo(const std::string &linkPath, std::string *error)
{
    auto fail = [error](const std::string &message) {
        if (error)
            *error = message;
        return false;
    };
    if (d->path.empty() || d->hungUp || d->away)
        return fail("the device is not open");
    struct stat st
    { };
    if (::lstat(linkPath.c_str(), &st) == 0) {
        // A stale link from an earlier run is replaced; anything else is not ours to remove.
        if (!S_ISLNK(st.st_mode))
            return fail(linkPath + " exists and is not a symbolic link");
        if (::unlink(linkPath.c_str()) != 0)
            return fail(errnoText("cannot replace " + linkPath));
    }
    if (::symlink(d->path.c_str(), linkPath.c_str()) != 0)
        return fail(errnoText("cannot create " + linkPath));
    std::lock_guard<std::mutex> lock(d->mutex);
    d->links.push_back(linkPath);
    return true;
}

std::string SimulatedDevice::received() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->received;
}

std::string SimulatedDevice::sent() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->sent;
}

std::uint64_t SimulatedDevice::bytesSent() const
{
    return d->bytesSent;
}

bool SimulatedDevice::streaming() const
{
    return d->streaming;
}

bool SimulatedDevice::hungUp() const
{
    return d->hungUp;
}

LineSettings SimulatedDevice::lineSettings() const
{
    return d->readSettings();
}

} // namespace devsim
