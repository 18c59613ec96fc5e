#ifndef STREAMWATCH_H
#define STREAMWATCH_H

#include <QElapsedTimer>
#include <QtGlobal>

#include <functional>

// Tells from the timing of deliveries alone that the device streams, and which way a Start/Stop
// press went.
//
// A device's last bytes after a stop are what was already on its way when it took the command:
// its transmit buffer and the adapter's, a few hundred bytes at most, since what the system
// buffered is read at once. At 9600 baud and above that tail is over in about half a second; at
// slower rates it takes at most the line's time for TailBytes. A device may send in bursts, and
// may answer a key with a few seconds of output; neither its pauses nor its answers are a stop or
// a stream.
class StreamWatch
{
public:
    // Deliveries with no longer pause between them are one run.
    static constexpr qint64 MaxPauseMs = 1500;
    // A run shows a stream once it has gone on this long...
    static constexpr qint64 EvidenceMs = 2000;
    // ...or this long, clearly longer than an answer, once a byte was sent on this line...
    static constexpr qint64 AnswerMs = 3000;
    // ...and in both cases longer than the line needs for this many bytes.
    static constexpr qint64 TailBytes = 512;
    // Data later than this after a press, or than the line's time for TailBytes if longer, is
    // no tail: the device streams, once such data has gone on this long. A single late delivery
    // may be a tail that a busy event loop read late.
    static constexpr qint64 PressWindowMs = 1000;
    static constexpr qint64 LateRunMs = 250;
    // More bytes than this since a press are neither a tail nor what waited in the system's
    // buffers: the device streams. Also bounds what a start keeps aside until it is confirmed.
    static constexpr qint64 BacklogBytes = 1 << 20;
    // A device that sends in bursts may pause up to this long and still stream: the longest such
    // pause seen on the line tells from how long ago data still counts as flowing before a press,
    // and how long a silence after it must last to show a stop.
    static constexpr qint64 MaxBurstPauseMs = 5000;
    // Silence worth telling the user about while capturing; longer on slow lines, as above.
    static constexpr qint64 SilenceMs = 2000;

    // What the device's answer tells of the last press.
    enum class Answer {
        Waiting, // too early to tell
        Streams, // data goes on after it: the device streams now
        Started, // nothing flowed before it and data came after: the device started
        Stopped, // data flowed before it and stopped: it was a stop
        None, // nothing to tell: no press watched, or a silent device
    };

    // The clock gives milliseconds of a steady clock; by default, since construction.
    explicit StreamWatch(std::function<qint64()> clock = {});
    Q_DISABLE_COPY(StreamWatch)

    // A new line: nothing is known of it, nothing was sent on it.
    void newLine();
    // Bytes went out to the device, which may answer them. A press watched stays watched, but
    // what comes from now on is no answer to it unless it shows a stream.
    void sent();
    // The start/stop command went out; its answer is watched from now on.
    void pressed();
    // The press watched no longer tells anything, e.g. after a typed command.
    void forgetPress() { watching = false; }
    // Whether what came since the press watched already shows that the device started.
    bool showsStart() const;
    // A delivery of that many bytes arrived; true once the deliveries show a stream.
    bool delivered(qint32 baudRate, qint64 bytes);
    // The last press's answer. Told once: after a verdict other than Waiting, None follows.
    Answer answer(qint32 baudRate);
    // How long after a press its answer is known at the latest, unless the device pauses longer.
    static qint64 answerDueMs(qint32 baudRate);
    // How long nothing arrived, counted from the last delivery, press or new line.
    qint64 silentMs() const;
    // From how long a silence is worth a note.
    static qint64 silenceNoteMs(qint32 baudRate);

private:
    // The line's time for TailBytes.
    static qint64 tailMs(qint32 baudRate);

    std::function<qint64()> now;
    QElapsedTimer elapsed;
    // When the current run of deliveries began (-1: none yet), and the latest delivery.
    qint64 runStartMs = -1;
    qint64 lastMs = -1;
    qint64 quietSinceMs = 0;
    bool byteSent = false;
    // The longest pause of a burst seen on this line, and whether something went out since the
    // last delivery, so that the next gap may be the device's answer rather than its rhythm.
    qint64 rhythmMs = MaxPauseMs;
    bool gapBroken = false;
    // The press watched: when, whether data flowed before, whether data came after it before any
    // key, the run of deliveries after its window (-1: none yet), and whether it shows a stream.
    bool watching = false;
    qint64 pressMs = 0;
    bool flowedBefore = false;
    bool keySince = false;
    bool answered = false;
    qint64 lateStartMs = -1;
    qint64 bytesAfter = 0;
    bool flowsAfter = false;
};

#endif // STREAMWATCH_H
