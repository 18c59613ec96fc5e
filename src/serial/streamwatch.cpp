#include "serial/streamwatch.h"

#include <algorithm>

StreamWatch::StreamWatch(std::function<qint64()> clock)
    : now(std::move(clock))
{
    if (!now) {
        elapsed.start();
        now = [this] { return elapsed.elapsed(); };
    }
    quietSinceMs = now();
}

void StreamWatch::newLine()
{
    runStartMs = -1;
    lastMs = -1;
    quietSinceMs = now();
    byteSent = false;
    rhythmMs = MaxPauseMs;
    watching = false;
}

void StreamWatch::sent()
{
    runStartMs = -1;
    byteSent = true;
    gapBroken = true;
    // What comes now may be the answer to these bytes: only a stream still tells of the press.
    keySince = true;
}

void StreamWatch::pressed()
{
    sent();
    const qint64 t = now();
    watching = true;
    pressMs = t;
    // A device that sends in bursts flows through its pauses.
    flowedBefore = lastMs >= 0 && t - lastMs <= rhythmMs;
    keySince = false;
    answered = false;
    lateStartMs = -1;
    bytesAfter = 0;
    flowsAfter = false;
    quietSinceMs = std::max(quietSinceMs, t);
}

bool StreamWatch::delivered(qint32 baudRate, qint64 bytes)
{
    const qint64 t = now();
    if (lastMs >= 0 && !gapBroken && t - lastMs <= MaxBurstPauseMs)
        rhythmMs = std::max(rhythmMs, t - lastMs);
    gapBroken = false;
    if (runStartMs < 0 || t - lastMs > MaxPauseMs)
        runStartMs = t;
    const qint64 evidence = byteSent ? AnswerMs : EvidenceMs;
    const bool streams = t - runStartMs > std::max(evidence, tailMs(baudRate));
    if (watching && keySince) {
        // An answer to a key may last seconds: only what shows a stream by itself counts.
        flowsAfter = flowsAfter || streams;
    } else if (watching) {
        answered = true;
        bytesAfter += bytes;
        if (bytesAfter > BacklogBytes)
            flowsAfter = true;
        if (t - pressMs > std::max(PressWindowMs, tailMs(baudRate))) {
            if (lateStartMs < 0 || t - lastMs > MaxPauseMs)
                lateStartMs = t;
            flowsAfter = flowsAfter || t - lateStartMs >= LateRunMs;
        }
    }
    lastMs = t;
    quietSinceMs = t;
    return streams;
}

bool StreamWatch::showsStart() const
{
    // Without data just before the press, nothing after it can be a tail.
    return watching && (flowsAfter || (!flowedBefore && answered));
}

StreamWatch::Answer StreamWatch::answer(qint32 baudRate)
{
    if (!watching)
        return Answer::None;
    const qint64 t = now();
    // Data around the press that may be in one of the device's pauses: it may still go on.
    const bool mayGoOn
        = lastMs >= 0 && (flowedBefore || lastMs >= pressMs) && t - lastMs <= rhythmMs;
    if (!flowsAfter && (t - pressMs <= answerDueMs(baudRate) || mayGoOn))
        return Answer::Waiting;
    watching = false;
    if (flowsAfter)
        return Answer::Streams;
    if (flowedBefore)
        return Answer::Stopped;
    // Silence after a press tells nothing.
    return answered ? Answer::Started : Answer::None;
}

qint64 StreamWatch::answerDueMs(qint32 baudRate)
{
    // The tail is over, then a pause of a device that sends in bursts.
    return std::max(PressWindowMs, tailMs(baudRate)) + MaxPauseMs;
}

qint64 StreamWatch::silentMs() const
{
    return now() - quietSinceMs;
}

qint64 StreamWatch::silenceNoteMs(qint32 baudRate)
{
    return std::max(SilenceMs, tailMs(baudRate));
}

qint64 StreamWatch::tailMs(qint32 baudRate)
{
    // Ten bits a byte: start, eight data bits, stop.
    return TailBytes * 10 * 1000 / std::max<qint64>(baudRate, 1);
}
