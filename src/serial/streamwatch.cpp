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
    watching = false;
}

void StreamWatch::sent()
{
    runStartMs = -1;
    byteSent = true;
    // What comes now may be the answer to these bytes as well as to the press.
    watching = false;
}

void StreamWatch::pressed()
{
    sent();
    const qint64 t = now();
    watching = true;
    pressMs = t;
    flowedBefore = lastMs >= 0 && t - lastMs <= MaxPauseMs;
    lateStartMs = -1;
    bytesAfter = 0;
    flowsAfter = false;
    quietSinceMs = std::max(quietSinceMs, t);
}

bool StreamWatch::delivered(qint32 baudRate, qint64 bytes)
{
    const qint64 t = now();
    if (runStartMs < 0 || t - lastMs > MaxPauseMs)
        runStartMs = t;
    bytesAfter += bytes;
    if (watching && bytesAfter > BacklogBytes)
        flowsAfter = true;
    if (watching && t - pressMs > std::max(PressWindowMs, tailMs(baudRate))) {
        if (lateStartMs < 0 || t - lastMs > MaxPauseMs)
            lateStartMs = t;
        flowsAfter = flowsAfter || t - lateStartMs >= LateRunMs;
    }
    lastMs = t;
    quietSinceMs = t;
    const qint64 evidence = byteSent ? AnswerMs : EvidenceMs;
    return t - runStartMs > std::max(evidence, tailMs(baudRate));
}

StreamWatch::Answer StreamWatch::answer(qint32 baudRate)
{
    if (!watching)
        return Answer::None;
    const qint64 t = now();
    // Late data that goes on may still show a stream.
    const bool lateGoesOn = lateStartMs >= 0 && t - lastMs <= MaxPauseMs;
    if (!flowsAfter && (t - pressMs <= answerDueMs(baudRate) || lateGoesOn))
        return Answer::Waiting;
    watching = false;
    if (flowsAfter)
        return Answer::Streams;
    return flowedBefore ? Answer::Stopped : Answer::None;
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
