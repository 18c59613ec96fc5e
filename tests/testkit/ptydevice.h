#ifndef PTYDEVICE_H
#define PTYDEVICE_H

#include <QByteArray>
#include <QMutex>
#include <QString>

#include <atomic>
#include <chrono>
#include <thread>

namespace testkit {

// The far end of a real pseudo-terminal, as a device the tests script. Made without a script it
// is a raw line: it sends only what the test gives send(). With one, each "s" it receives starts
// or stops its stream, which may come in bursts and stop by itself, and any other key is answered
// with a while of output; each byte it streams is a function of its position.
class PtyDevice
{
public:
    struct Script
    {
        int burstMs = 0; // 0: a steady stream
        int pauseMs = 0;
        int answerMs = 0; // how long it answers a key other than "s"
        qint64 stopsAfter = 0; // once, after streaming this many bytes; 0: never
    };

    PtyDevice();
    explicit PtyDevice(const Script &script);
    ~PtyDevice();
    PtyDevice(const PtyDevice &) = delete;
    PtyDevice &operator=(const PtyDevice &) = delete;

    // Writes the bytes to the line at once; false if not all of them went.
    bool send(const QByteArray &data) const;
    // As if an earlier run of the program had started it.
    void startStream() { toggle(); }
    bool streaming() const { return isStreaming; }
    bool answering() const { return isAnswering; }
    // Where a burst device is in its cycle of burst and pause, in ms, and how many cycles it did.
    qint64 cycleMs() const { return msStreaming() % (script.burstMs + script.pauseMs); }
    qint64 cycles() const { return msStreaming() / (script.burstMs + script.pauseMs); }
    // Everything it sent, and (scripted) everything it received.
    QByteArray sent() const;
    QByteArray received() const;

    // The line's name for the program to open; empty if no pseudo-terminal could be had.
    QString path;

private:
    using Clock = std::chrono::steady_clock;

    qint64 msStreaming() const;
    void toggle();
    void run();

    const Script script;
    int master = -1;
    int slave = -1;
    std::thread thread;
    std::atomic<bool> done{false};
    std::atomic<bool> isStreaming{false};
    std::atomic<bool> isAnswering{false};
    mutable QMutex mutex;
    mutable QByteArray bytes; // sent
    QByteArray in;
    Clock::time_point streamStart;
    qint64 streamed = 0;
    bool stoppedItself = false;
};

} // namespace testkit

#endif // PTYDEVICE_H
