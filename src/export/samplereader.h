#ifndef SAMPLEREADER_H
#define SAMPLEREADER_H

#include "plot/channelmap.h"
#include "plot/lineparser.h"

#include <QCoreApplication>
#include <QString>
#include <QVector>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

class CaptureSnapshot;

// Reads a capture's samples as the plot does: the same parser and channel rule, one sample per
// line that holds a number, each with the offset at which its line ended.
class SampleReader
{
    Q_DECLARE_TR_FUNCTIONS(SampleReader)

public:
    struct Sample
    {
        std::int64_t index = 0;
        // The capture held this many bytes once the line had ended.
        std::int64_t endOffset = 0;
        unsigned present = 0; // bit c: channel c has a value
        double values[ChannelMap::maxChannels] = {};
    };
    // Returns false to stop.
    using Sink = std::function<bool(const Sample &)>;

    SampleReader();

    // Every sample of the capture, in order. bytesRead counts up as the capture is read, and
    // cancelled stops it. False with *reason when the capture could not be read.
    bool read(const CaptureSnapshot &capture, const Sink &sink,
              std::atomic<std::int64_t> *bytesRead, const std::atomic<bool> *cancelled,
              QString *reason);
    // The same for bytes in memory: the whole of a capture, or its next block.
    bool feed(const char *data, std::size_t size, std::int64_t base);

    const ChannelMap &channels() const { return map; }
    // A line held more values or labels than there are channels: the rest were not read.
    bool overflowed() const { return fieldsBeyond || map.overflowed(); }
    std::int64_t samples() const { return sampleCount; }
    // Lines with no number, too long, or not ended when the capture ends.
    std::int64_t skippedLines() const { return lineCount - sampleCount; }
    bool wasCancelled() const { return stopped; }
    // The capture ended: a line begun and not ended is skipped.
    void end();

    void setSink(const Sink &to) { sink = to; }
    // Offsets, in order, where the line being read is given up (a lost device cut it), as the
    // plot gives it up.
    void setCuts(const QVector<std::int64_t> &offsets) { cuts = offsets; }

private:
    // A line of plain numbers between single separators, the usual line, read without the
    // parser's copy; false leaves the line to the parser.
    bool readPlain(const char *line, std::size_t size);
    void breakLine();
    bool take(const char *line, std::size_t size, std::int64_t endOffset);

    ChannelMap map;
    LineParser parser;
    Sample current;
    bool parsed = false;
    std::int64_t sampleCount = 0;
    std::int64_t lineCount = 0;
    // A line that goes on in the next block; given up once longer than a line may be.
    std::string partial;
    bool partialTooLong = false;
    Sink sink;
    bool stopped = false;
    bool fieldsBeyond = false;
    QVector<std::int64_t> cuts;
};

#endif // SAMPLEREADER_H
