#include "serial/streamwatch.h"

#include <algorithm>

bool StreamWatch::delivered(qint32 baudRate, qint64 now)
{
    if (runStartMs < 0 || now - lastMs > MaxPauseMs)
        runStartMs = now;
    lastMs = now;
    // Ten bits a byte: start, eight data bits, stop.
    const qint64 tailMs = TailBytes * 10 * 1000 / std::max<qint64>(baudRate, 1);
    return now - runStartMs > std::max(EvidenceMs, tailMs);
}
