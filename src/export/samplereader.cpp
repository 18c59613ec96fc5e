#include "export/samplereader.h"

#include "serial/capturesnapshot.h"

#include <algorithm>

namespace {

bool isSeparator(char c)
{
    return c == ',' || c == ';' || c == ' ' || c == '\t';
}

// An integer of at most 15 digits is exact in a double, and read far faster than from_chars
// reads it; anything else goes to the parser's own rule.
bool readNumber(const char *text, std::size_t size, double *value)
{
    std::size_t i = text[0] == '-' || text[0] == '+' ? 1 : 0;
    if (size - i >= 1 && size - i <= 15) {
        std::int64_t n = 0;
        std::size_t j = i;
        for (; j < size; ++j) {
            const unsigned d = unsigned(text[j]) - '0';
            if (d > 9)
                break;
            n = n * 10 + d;
        }
        if (j == size) {
            *value = text[0] == '-' ? -double(n) : double(n);
            return true;
        }
    }
    return LineParser::parseNumber(std::string_view(text, size), value);
}

} // namespace

SampleReader::SampleReader()
    : parser([this](const LineParser::Field *fields, int count, int total) {
        fieldsBeyond = fieldsBeyond || total > count;
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
    int nextCut = 0;
    const bool ok = capture.read(
        [&](const QByteArray &block) {
            if (cancelled && cancelled->load()) {
                stopped = true;
                return false;
            }
            const std::int64_t blockEnd = base + block.size();
            std::int64_t at = base;
            while (nextCut < cuts.size() && cuts[nextCut] <= blockEnd) {
                const std::int64_t cut = std::max(cuts[nextCut++], at);
                if (!feed(block.constData() + (at - base), std::size_t(cut - at), at))
                    return false;
                breakLine();
                at = cut;
            }
            if (!feed(block.constData() + (at - base), std::size_t(blockEnd - at), at))
                return false;
            base = blockEnd;
            if (bytesRead)
                *bytesRead += block.size();
            return true;
        },
        reason);
    if (ok && !stopped)
        end();
    return ok;
}

void SampleReader::end()
{
    // A last line that never ended is not a sample, as in the plot.
    if (!partial.empty() || partialTooLong)
        ++lineCount;
    partial.clear();
    partialTooLong = false;
}

void SampleReader::breakLine()
{
    // The rest of the line, after the return, is no line of its own: given up with it.
    if (!partial.empty()) {
        partial.clear();
        partialTooLong = true;
    }
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
            if (!partialTooLong
                && partial.size() + std::size_t(end - p) <= LineParser::maxLineBytes)
                partial.append(p, std::size_t(end - p));
            else {
                partial.clear();
                partialTooLong = true;
            }
            return true;
        }
        const std::int64_t lineEnd = base + (q + 1 - data);
        bool ok = true;
        if (partialTooLong || !partial.empty()) {
            if (!partialTooLong
                && partial.size() + std::size_t(q - p) <= LineParser::maxLineBytes) {
                partial.append(p, std::size_t(q - p));
                ok = take(partial.data(), partial.size(), lineEnd);
            } else {
                ++lineCount; // too long: dropped, as the parser drops it
            }
            partial.clear();
            partialTooLong = false;
        } else if (q > p) {
            ok = take(p, std::size_t(q - p), lineEnd);
        }
        if (!ok) {
            stopped = true;
            return false;
        }
        p = q + 1;
    }
    return true;
}

bool SampleReader::take(const char *line, std::size_t size, std::int64_t endOffset)
{
    ++lineCount;
    if (size > LineParser::maxLineBytes)
        return true;
    if (!readPlain(line, size)) {
        parser.feed(line, size);
        parser.feed("\n", 1);
    }
    if (!parsed)
        return true;
    parsed = false;
    current.index = sampleCount++;
    current.endOffset = endOffset;
    return sink(current);
}

bool SampleReader::readPlain(const char *line, std::size_t size)
{
    double values[ChannelMap::maxChannels];
    int count = 0;
    std::size_t i = 0;
    for (;;) {
        const std::size_t start = i;
        while (i < size && !isSeparator(line[i]))
            ++i;
        // An empty field, separators in a row, at the start or the end: the parser's rules.
        if (i == start || count == ChannelMap::maxChannels
            || !readNumber(line + start, i - start, &values[count]))
            return false;
        ++count;
        if (i == size)
            break;
        if (++i == size)
            return false;
    }
    current.present = 0;
    for (int k = 0; k < count; ++k) {
        const int channel = map.channelFor(LineParser::Field{{}, values[k], k});
        if (channel < 0)
            continue;
        current.values[channel] = values[k];
        current.present |= 1u << channel;
    }
    parsed = current.present != 0;
    return true;
}
