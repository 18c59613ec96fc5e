#ifndef CAPTUREBELIEF_H
#define CAPTUREBELIEF_H

#include "serial/streamwatch.h"

#include <QString>

#include <functional>

// What the program believes the device does: whether it streams, on which port, and whether a
// Start still waits for the device's answer. The only writer of the process-wide flags.
class CaptureBelief
{
public:
    // What an event changed, for the window to apply: first the store, then the status.
    struct Change
    {
        bool state = false; // captureState changed
        bool confirmStart = false; // the pending start began: the earlier capture goes
        bool putBack = false; // it did not: the earlier capture is the capture again
        bool beginStart = false; // a new start waits for its answer (after the above)
        // A press started a device that came back idle: the same capture goes on.
        bool restarted = false;
        // Ask due() again after this many ms; negative: no need.
        qint64 dueInMs = -1;

        bool any() const { return state || confirmStart || putBack || beginStart || restarted; }
    };

    // The clock gives milliseconds of a steady clock; by default, since construction.
    explicit CaptureBelief(std::function<qint64()> clock = {});
    Q_DISABLE_COPY(CaptureBelief)

    // The port opened; its name and input rate.
    Change connected(const QString &portName, qint32 baudRate);
    // The port was closed by the user: the device goes on as it was.
    void disconnected();
    // The device went away: it may come back idle.
    Change lost();
    // The lost device is back on its port: the capture it ran goes on, whether the device still
    // streams or came back idle and waits for the next press.
    Change returned(qint32 baudRate);
    // Start/Stop sent the command.
    Change pressed();
    // Bytes typed into the console went out.
    Change typed(const QByteArray &bytes);
    // A delivery of that many bytes arrived.
    Change delivered(qint64 bytes);
    // The time a press's answer was asked for has come.
    Change due();

    bool capturing() const { return running; }
    // How long nothing has arrived, if that is worth a note; else negative.
    qint64 notedSilenceMs() const;

    // The device's start/stop command.
    static constexpr char StartStopCommand = 's';

private:
    void setRunning(bool on, Change *change);
    // Decides a pending start before a command or a new line makes its answer unreadable.
    void settle(bool pressing, Change *change);
    // Reads the answer to the press watched into change; false while it is not known yet.
    bool followAnswer(Change *change);

    StreamWatch watch;
    bool open = false;
    bool running = false;
    bool pending = false;
    // The pending start waits for the answer to the press believed its stop.
    bool carried = false;
    // The device was lost while capturing, and nothing stopped the capture since: a press that
    // starts it again continues the capture.
    bool resumable = false;
    qint32 baud = 9600;
    QString portName;
    // The port a capture runs on.
    QString capturePort;
};

#endif // CAPTUREBELIEF_H
