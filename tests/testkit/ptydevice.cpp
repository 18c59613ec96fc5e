#include "ptydevice.h"

#include "pseudoterminal.h"

#include <QMutexLocker>

#include <string>
#include <unistd.h>

namespace testkit {

namespace {

bool openLine(int *master, int *slave, QString *path)
{
    std::string name;
    std::string error;
    if (!pty::openPair(master, slave, &name, &error)) {
        qWarning("no pseudo-terminal: %s", error.c_str());
        return false;
    }
    *path = QString::fromStdString(name);
    return true;
}

} // namespace

PtyDevice::PtyDevice()
{
    openLine(&master, &slave, &path);
}

PtyDevice::PtyDevice(const Script &script)
    : script(script)
{
    if (openLine(&master, &slave, &path))
        thread = std::thread([this] { run(); });
}

PtyDevice::~PtyDevice()
{
    done = true;
    if (thread.joinable())
        thread.join();
    pty::closeFd(&master);
    pty::closeFd(&slave);
}

bool PtyDevice::send(const QByteArray &data) const
{
    const QMutexLocker lock(&mutex);
    const bool all = ::write(master, data.constData(), size_t(data.size())) == data.size();
    if (all)
        bytes += data;
    return all;
}

QByteArray PtyDevice::sent() const
{
    const QMutexLocker lock(&mutex);
    return bytes;
}

QByteArray PtyDevice::received() const
{
    const QMutexLocker lock(&mutex);
    return in;
}

qint64 PtyDevice::msStreaming() const
{
    const QMutexLocker lock(&mutex);
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - streamStart)
        .count();
}

void PtyDevice::toggle()
{
    const QMutexLocker lock(&mutex);
    isStreaming = !isStreaming;
    streamStart = Clock::now();
}

void PtyDevice::run()
{
    constexpr int Chunk = 40; // every 10 ms: 4 kB/s
    const char pattern[] = "0123456789abcdefghijklmnopqrstuvwxyz\r\n";
    Clock::time_point answerEnd;
    while (!done) {
        char input[64];
        for (ssize_t n = 0; (n = ::read(master, input, sizeof input)) > 0;) {
            {
                const QMutexLocker lock(&mutex);
                in.append(input, int(n));
            }
            for (ssize_t i = 0; i < n; ++i) {
                if (input[i] == 's')
                    toggle();
                else
                    answerEnd = Clock::now() + std::chrono::milliseconds(script.answerMs);
            }
        }
        const Clock::time_point now = Clock::now();
        isAnswering = now < answerEnd;
        {
            const QMutexLocker lock(&mutex);
            bool burst = isStreaming;
            if (burst && script.burstMs > 0) {
                const auto ms
                    = std::chrono::duration_cast<std::chrono::milliseconds>(now - streamStart)
                          .count();
                burst = ms % (script.burstMs + script.pauseMs) < script.burstMs;
            }
            if (burst || isAnswering) {
                QByteArray chunk;
                for (int i = 0; i < Chunk; ++i)
                    chunk += pattern[(bytes.size() + i) % (sizeof pattern - 1)];
                const ssize_t n = ::write(master, chunk.constData(), size_t(chunk.size()));
                if (n > 0) {
                    bytes += chunk.left(int(n));
                    if (burst)
                        streamed += n;
                }
                if (script.stopsAfter > 0 && !stoppedItself && streamed >= script.stopsAfter) {
                    stoppedItself = true;
                    isStreaming = false;
                }
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace testkit
