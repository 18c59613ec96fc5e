#include "export/samplereader.h"

#include "serial/capturesnapshot.h"

SampleReader::SampleReader()
    : parser([this](const LineParser::Field *fields, int count, int) {
        current.present = 0;
        for (int i = 0; i < count; ++i) {
            const int channel = map.channelFor(fields[i]);
            if (channel < 0)
                continue;
            current.values[channel] = fields[i].value;
            current.present |= 1u << channel;
        }
        parsed = current.present != 0;
    })
{ }

bool SampleReader::read(const CaptureSnapshot &capture, const Sink &sampleSink,
                        std::atomic<std::int64_t> *bytesRead, const std::atomic<bool> *cancelled,
                        QString *reason)
{
    sink = sampleSink;
    std::int64_t base = 0;
    const bool ok = capture.read(
        [&](const QByteArray &block) {
            if (cancelled && cancelled->load()) {
                stopped = true;
                return false;
            }
            if (!feed(block.constData(), std::size_t(block.size()), base))
                return false;
            base += block.size();
            if (bytesRead)
                *bytesRead += block.size();
            return true;
        },
        reason);
    // A last line that never ended is not a sample, as in the plot.
    if (ok && !stopped && lineBytes > 0) {
        ++lineCount;
        lineBytes = 0;
    }
    return ok;
}

bool SampleReader::feed(const char *data, std::size_t size, std::int64_t base)
{
    const char *p = data;
    const char *const end = data + size;
    while (p < end) {
        const char *q = p;
        while (q < end && *q != '\n' && *q != '\r')
            ++q;
        if (q == end) {
            parser.feed(p, std::size_t(end - p));
            lineBytes += std::size_t(end - p);
            return true;
        }
        // Up to and with the line end, so that the line is read now and its end is known.
        parser.feed(p, std::size_t(q - p + 1));
        // The empty line between CR and LF is no line.
        if (lineBytes + std::size_t(q - p) > 0)
            ++lineCount;
        lineBytes = 0;
        p = q + 1;
        if (parsed) {
            parsed = false;
            current.index = sampleCount++;
            current.endOffset = base + (p - data);
            if (!sink(current)) {
                stopped = true;
                return false;
            }
        }
    }
    return true;
}
