#include "ptyfeeder.h"

#include "pseudoterminal.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

std::int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               PtyFeeder::Clock::now().time_since_epoch())
        .count();
}

void makeLine(std::uint64_t number, std::size_t length, char *line)
{
    const std::size_t digits = std::min<std::size_t>(12, length - 2);
    for (std::size_t i = digits; i-- > 0;) {
        line[i] = static_cast<char>('0' + number % 10);
        number /= 10;
    }
    if (length - 2 > digits)
        line[digits] = ' ';
    for (std::size_t i = digits + 1; i + 2 < length; ++i)
        line[i] = static_cast<char>('a' + (number + i) % 26);
    line[length - 2] = '\r';
    line[length - 1] = '\n';
}

// Channel c of line n: a slow triangle, offset by channel, with a spike every 997 lines.
void makeNumberLine(std::uint64_t number, int channels, char *line)
{
    for (int c = 0; c < channels; ++c) {
        long value = static_cast<long>((number + std::uint64_t(c) * 250) % 2000);
        value = (value < 1000 ? value : 2000 - value) - 500;
        if (number % 997 == std::uint64_t(c))
            value = 9999;
        char *field = line + std::ptrdiff_t(6) * c;
        field[0] = value < 0 ? '-' : '+';
        unsigned long magnitude = static_cast<unsigned long>(value < 0 ? -value : value);
        for (int i = 4; i >= 1; --i) {
            field[i] = static_cast<char>('0' + magnitude % 10);
            magnitude /= 10;
        }
        field[5] = c + 1 < channels ? ',' : '\r';
    }
    line[std::ptrdiff_t(6) * channels] = '\n';
}

} // namespace

PtyFeeder::PtyFeeder(const Options &options)
    : opt(options)
{
    opt.channels = std::max(opt.channels, 1);
    opt.lineBytes = opt.content == Content::Numbers ? numberLineBytes(opt.channels)
                                                    : std::max<std::size_t>(opt.lineBytes, 3);
    opt.writeBytes = std::max<std::size_t>(opt.writeBytes, 1);
}

PtyFeeder::~PtyFeeder()
{
    stop();
    for (int *fd : {&master, &slave, &wake[0], &wake[1]})
        pty::closeFd(fd);
}

bool PtyFeeder::open(std::string *error)
{
    return pty::openPair(&master, &slave, &slavePath, error) && pty::openWakePipe(wake, error);
}

void PtyFeeder::start()
{
    if (!thread.joinable())
        thread = std::thread(&PtyFeeder::run, this);
}

void PtyFeeder::stop()
{
    stopRequested = true;
    {
        std::lock_guard<std::mutex> lock(mutex);
        acked.notify_all();
    }
    pty::wake(wake[1]);
    if (thread.joinable())
        thread.join();
}

std::uint64_t PtyFeeder::due() const
{
    if (!startedFlag || opt.bytesPerSecond <= 0)
        return writtenBytes;
    const double seconds = static_cast<double>(nowNs() - startNs) * 1e-9;
    auto bytes = static_cast<std::uint64_t>(seconds * opt.bytesPerSecond);
    if (opt.totalBytes != 0)
        bytes = std::min(bytes, opt.totalBytes);
    return std::max<std::uint64_t>(bytes, writtenBytes);
}

int PtyFeeder::queuedAtHost() const
{
    int queued = 0;
    return ::ioctl(slave, FIONREAD, &queued) == 0 ? queued : -1;
}

void PtyFeeder::acknowledge(std::uint64_t consumed)
{
    std::lock_guard<std::mutex> lock(mutex);
    ackedBytes = consumed;
    acked.notify_one();
}

std::vector<PtyFeeder::WriteMark> PtyFeeder::marks() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return writeMarks;
}

void PtyFeeder::fill(const Options &options, std::uint64_t offset, char *out, std::size_t n)
{
    if (options.content == Content::NoLineEnds) {
        static const char alphabet[]
            = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (std::size_t i = 0; i < n; ++i)
            out[i] = alphabet[(offset + i) % 64];
        return;
    }
    const std::size_t length = options.content == Content::Numbers
        ? numberLineBytes(options.channels)
        : options.lineBytes;
    std::vector<char> line(length);
    std::uint64_t number = offset / length;
    std::size_t pos = static_cast<std::size_t>(offset % length);
    while (n > 0) {
        if (options.content == Content::Numbers)
            makeNumberLine(number++, options.channels, line.data());
        else
            makeLine(number++, length, line.data());
        const std::size_t count = std::min(n, length - pos);
        std::memcpy(out, line.data() + pos, count);
        out += count;
        n -= count;
        pos = 0;
    }
}

bool PtyFeeder::waitForStartByte()
{
    while (!stopRequested) {
        pollfd fds[2] = {{master, POLLIN, 0}, {wake[0], POLLIN, 0}};
        if (::poll(fds, 2, 100) <= 0 || !(fds[0].revents & POLLIN))
            continue;
        char buf[256];
        const ssize_t n = ::read(master, buf, sizeof buf);
        if (n > 0 && std::memchr(buf, 's', static_cast<std::size_t>(n)))
            return true;
    }
    return false;
}

bool PtyFeeder::writeAll(const char *data, std::size_t size, bool mayDrop)
{
    while (size > 0) {
        if (stopRequested)
            return false;
        const ssize_t n = ::write(master, data, size);
        if (n > 0) {
            data += n;
            size -= static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        if (mayDrop && n < 0 && errno == EAGAIN) {
            droppedBytes += size;
            return true;
        }
        // The host's queue is full: wait for room, as a device under flow control does.
        pollfd fds[2] = {{master, POLLOUT, 0}, {wake[0], POLLIN, 0}};
        ::poll(fds, 2, 100);
    }
    return true;
}

void PtyFeeder::run()
{
    if (opt.waitForStart && !waitForStartByte()) {
        doneFlag = true;
        return;
    }
    const Clock::time_point t0 = Clock::now();
    startNs = nowNs();
    startedFlag = true;
    std::vector<char> buffer(opt.writeBytes);
    const auto tickBytes = static_cast<std::uint64_t>(std::max(
        1.0, std::min(opt.bytesPerSecond * opt.tickSeconds, static_cast<double>(opt.writeBytes))));

    Clock::time_point paceFrom = t0;
    while (!stopRequested) {
        const std::uint64_t done = writtenBytes;
        std::uint64_t n = opt.writeBytes;
        if (opt.totalBytes != 0)
            n = std::min(n, opt.totalBytes - done);
        if (n == 0)
            break;
        const bool inBurst = done < opt.burstBytes;
        if (inBurst) {
            n = std::min(n, opt.burstBytes - done);
            paceFrom = Clock::now();
        } else if (opt.bytesPerSecond > 0) {
            const double elapsed = std::chrono::duration<double>(Clock::now() - paceFrom).count();
            const auto dueNow
                = opt.burstBytes + static_cast<std::uint64_t>(elapsed * opt.bytesPerSecond);
            const std::uint64_t allowed = dueNow > done ? dueNow - done : 0;
            if (allowed < std::min(tickBytes, n)) {
                const double wakeAt
                    = static_cast<double>(done + std::min(tickBytes, n)) / opt.bytesPerSecond;
                std::this_thread::sleep_until(
                    paceFrom
                    + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                        wakeAt - double(opt.burstBytes) / opt.bytesPerSecond)));
                continue;
            }
            n = std::min(n, allowed);
        }
        fill(opt, done, buffer.data(), static_cast<std::size_t>(n));
        const Clock::time_point at = Clock::now();
        if (!writeAll(buffer.data(), static_cast<std::size_t>(n), opt.dropWhenFull && !inBurst))
            break;
        writtenBytes = done + n;
        if (opt.recordWrites) {
            std::lock_guard<std::mutex> lock(mutex);
            writeMarks.push_back({done + n, at});
        }
        if (opt.handshake) {
            std::unique_lock<std::mutex> lock(mutex);
            acked.wait(lock, [&] { return stopRequested || ackedBytes >= done + n; });
        }
    }
    doneFlag = true;
}
