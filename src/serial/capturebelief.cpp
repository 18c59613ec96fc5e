#include "serial/capturebelief.h"

#include "serial/captureflags.h"

CaptureBelief::CaptureBelief(std::function<qint64()> clock)
    : watch(std::move(clock))
{
    captureState = 0;
}

CaptureBelief::Change CaptureBelief::connected(const QString &name, qint32 baudRate)
{
    Change change;
    portOpened = 1;
    open = true;
    portName = name;
    baud = baudRate;
    // A connection by hand after a loss is a new start: the next press begins a new capture.
    resumable = false;
    // A capture runs on the line it was started on: a device on another port is not known to
    // stream, and the next Start/Stop starts it.
    if (running && portName != capturePort)
        setRunning(false, &change);
    settle(false, &change);
    watch.newLine();
    return change;
}

void CaptureBelief::disconnected()
{
    open = false;
}

CaptureBelief::Change CaptureBelief::lost()
{
    Change change;
    // Until it shows otherwise, a device that was unplugged is believed to come back idle.
    settle(false, &change);
    watch.forgetPress();
    // A start put back never ran: the capture set aside again had stopped, or never began, so
    // the next press after the return begins a new one.
    const bool wasRunning = running && !change.putBack;
    setRunning(false, &change);
    resumable = resumable || wasRunning;
    open = false;
    return change;
}

// A device that kept its power streams on, and the stream rule finds it again; one that lost it
// waits idle for the press that continues the capture. Nothing is sent: "s" is a toggle.
CaptureBelief::Change CaptureBelief::returned(qint32 baudRate)
{
    Change change;
    open = true;
    baud = baudRate;
    watch.newLine();
    return change;
}

CaptureBelief::Change CaptureBelief::pressed()
{
    Change change;
    settle(true, &change);
    if (!running && resumable) {
        // The capture was never stopped: what the device sends now goes on after it.
        change.restarted = true;
    } else if (!running) {
        // The previous capture goes only once the device's answer shows that this was a start.
        change.beginStart = true;
        pending = true;
    }
    setRunning(!running, &change);
    watch.pressed();
    change.dueInMs = StreamWatch::answerDueMs(baud) + 1;
    return change;
}

// The device takes a typed "s" as its command like any other, so the belief follows it; a start
// typed by hand appends to what is kept instead of emptying it.
CaptureBelief::Change CaptureBelief::typed(const QByteArray &bytes)
{
    Change change;
    // An answer to a key is not a stream, and no answer to a press.
    watch.sent();
    if (bytes.count(StartStopCommand) % 2 != 0) {
        settle(false, &change);
        watch.forgetPress();
        setRunning(!running, &change);
    }
    return change;
}

// A device believed idle that streams all the same was started without us: by an earlier run of
// the program, or by a press that met a device that had lost its state. It is capturing, and
// nothing that arrived is thrown away.
CaptureBelief::Change CaptureBelief::delivered(qint64 bytes)
{
    Change change;
    const bool streams = watch.delivered(baud, bytes);
    followAnswer(&change);
    if (!running && streams)
        setRunning(true, &change);
    return change;
}

// Late data that still goes on delays the answer past its due time.
CaptureBelief::Change CaptureBelief::due()
{
    Change change;
    if (!followAnswer(&change))
        change.dueInMs = StreamWatch::LateRunMs;
    return change;
}

// Not while a Start waits for its answer: the silence after a press tells nothing yet, and the
// capture it would be told of is the empty one, with the earlier one set aside.
qint64 CaptureBelief::notedSilenceMs() const
{
    const qint64 silentMs = watch.silentMs();
    return open && !pending && silentMs >= StreamWatch::silenceNoteMs(baud) ? silentMs : -1;
}

// A pending start is decided before another command or a new line blurs what its press brought:
// data after it that showed a start confirms it. Otherwise a press believed its stop carries it:
// if that one turns out a stop, the device ran in between and the start was one. Anything else
// puts the capture back, so that no sequence of commands empties it unconfirmed.
void CaptureBelief::settle(bool pressing, Change *change)
{
    if (!pending)
        return;
    if (!carried && watch.showsStart()) {
        change->confirmStart = true;
    } else if (!carried && pressing && running) {
        carried = true;
        return;
    } else {
        change->putBack = true;
    }
    pending = false;
    carried = false;
}

void CaptureBelief::setRunning(bool on, Change *change)
{
    if (on == running)
        return;
    running = on;
    // Once running again, or stopped, the capture lost with the device is no longer waiting.
    resumable = false;
    if (on)
        capturePort = portName;
    captureState = on ? 1 : 0;
    change->state = true;
}

// What the device did after a press tells which way the press went: a stream that goes on was
// started (or never stopped), data after a quiet line was a start, and data that ended was
// stopped.
bool CaptureBelief::followAnswer(Change *change)
{
    const StreamWatch::Answer answer = watch.answer(baud);
    if (answer == StreamWatch::Answer::Waiting)
        return false;
    if (carried) {
        // The answer to the stop that carries the start: a stop shows that it ran.
        change->confirmStart = answer == StreamWatch::Answer::Stopped;
        change->putBack = !change->confirmStart;
    }
    switch (answer) {
    case StreamWatch::Answer::Waiting:
        return false;
    case StreamWatch::Answer::Streams:
        change->confirmStart = change->confirmStart || (pending && !carried);
        if (open)
            setRunning(true, change);
        break;
    case StreamWatch::Answer::Started:
        change->confirmStart = change->confirmStart || (pending && !carried);
        break;
    case StreamWatch::Answer::Stopped:
        // Believed a start, it stopped a stream we had not followed: nothing is lost.
        change->putBack = change->putBack || (pending && !carried);
        setRunning(false, change);
        break;
    case StreamWatch::Answer::None:
        // Silence confirms nothing: the capture is shown and saved whole again.
        change->putBack = change->putBack || (pending && !carried);
        break;
    }
    pending = false;
    carried = false;
    return true;
}
