#ifndef STREAMWATCH_H
#define STREAMWATCH_H

#include <QElapsedTimer>
#include <QtGlobal>

// Tells from the timing of deliveries alone that the device streams on its own.
//
// A device's last bytes after a stop are what was already on its way when it took the command:
// its transmit buffer and the adapter's, a few hundred bytes at most, since what the system
// buffered is read at once. At 9600 baud and above that tail is over in about half a second; at
// slower rates it takes at most the line's time for TailBytes. Deliveries that go on longer than
// both since the last byte sent, without a pause, cannot be such a tail, nor an answer to a key.
class StreamWatch
{
public:
    // A stream goes on at least this long...
    static constexpr qint64 EvidenceMs = 1000;
    // ...and longer than the line needs for this many bytes...
    static constexpr qint64 TailBytes = 512;
    // ...with no pause longer than this between deliveries.
    static constexpr qint64 MaxPauseMs = 500;

    StreamWatch() { clock.start(); }

    // What came before proves nothing: something went out to the device, which may answer, or
    // the line is a new one.
    void restart() { runStartMs = -1; }
    // A delivery arrived; true once the deliveries since the last byte sent show a stream.
    bool delivered(qint32 baudRate) { return delivered(baudRate, clock.elapsed()); }
    // The same, at a time in milliseconds of a steady clock.
    bool delivered(qint32 baudRate, qint64 nowMs);

private:
    QElapsedTimer clock;
    // When the current run of deliveries began (-1: none yet), and its latest delivery.
    qint64 runStartMs = -1;
    qint64 lastMs = 0;
};

#endif // STREAMWATCH_H
