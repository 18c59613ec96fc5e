#include "plot/lineparser.h"

#include <algorithm>
#include <charconv>

namespace {

bool isSeparator(char c)
{
    return c == ' ' || c == '\t' || c == ',' || c == ';';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Printable ASCII that cannot be mistaken for part of the syntax.
bool isLabelText(std::string_view text)
{
    if (text.empty() || text.size() > 32)
        return false;
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return c >= 0x21 && c <= 0x7e && c != ':' && c != '='; });
}

} // namespace

LineParser::LineParser(LineHandler handler)
    : handler(std::move(handler))
{
    line.reserve(maxLineBytes);
}

void LineParser::reset()
{
    line.clear();
    discarding = false;
}

void LineParser::feed(const char *data, std::size_t size)
{
    const char *end = data + size;
    while (data < end) {
        const char *stop = data;
        while (stop < end && *stop != '\n' && *stop != '\r')
            ++stop;
        const std::size_t piece = static_cast<std::size_t>(stop - data);
        if (!discarding) {
            if (line.size() + piece > maxLineBytes) {
                // Growing it would let a stream without line ends take any amount of memory.
                line.clear();
                discarding = true;
            } else {
                line.append(data, piece);
            }
        }
        if (stop == end)
            return;
        // CRLF ends one line: the empty line between CR and LF has no number and is skipped.
        if (!discarding)
            parseLine();
        line.clear();
        discarding = false;
        data = stop + 1;
    }
}

void LineParser::parseLine()
{
    Field fields[maxValues];
    int count = 0;
    int total = 0;
    std::string_view pendingLabel;
    const std::string_view text(line);
    std::size_t pos = 0;
    while (pos < text.size()) {
        while (pos < text.size() && isSeparator(text[pos]))
            ++pos;
        std::size_t fieldEnd = pos;
        while (fieldEnd < text.size() && !isSeparator(text[fieldEnd]))
            ++fieldEnd;
        if (fieldEnd == pos)
            break;
        std::string_view field = text.substr(pos, fieldEnd - pos);
        pos = fieldEnd;

        std::string_view label = pendingLabel;
        pendingLabel = {};
        const std::size_t mark = field.find_first_of(":=");
        if (mark != std::string_view::npos) {
            const std::string_view name = field.substr(0, mark);
            if (!isLabelText(name))
                continue;
            field.remove_prefix(mark + 1);
            if (field.empty()) {
                // "a: 1": the label names the number in the next field.
                pendingLabel = name;
                continue;
            }
            label = name;
        }
        double value = 0;
        if (!parseNumber(field, &value))
            continue;
        ++total;
        if (count < maxValues)
            fields[count++] = Field{label, value};
    }
    if (count > 0)
        handler(fields, count, total);
}

bool LineParser::parseNumber(std::string_view text, double *value)
{
    std::size_t i = 0;
    const std::size_t n = text.size();
    if (i < n && (text[i] == '+' || text[i] == '-'))
        ++i;
    const std::size_t mantissaStart = i;
    std::size_t digits = 0;
    while (i < n && isDigit(text[i])) {
        ++i;
        ++digits;
    }
    if (i < n && text[i] == '.') {
        ++i;
        while (i < n && isDigit(text[i])) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0)
        return false;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < n && (text[i] == '+' || text[i] == '-'))
            ++i;
        std::size_t expDigits = 0;
        while (i < n && isDigit(text[i])) {
            ++i;
            ++expDigits;
        }
        if (expDigits == 0)
            return false;
    }
    if (i != n)
        return false;
    // from_chars takes no '+', and unlike strtod it ignores the user's locale.
    double parsed = 0;
    const char *first = text.data() + mantissaStart;
    const auto result = std::from_chars(first, text.data() + n, parsed);
    if (result.ec != std::errc() || result.ptr != text.data() + n)
        return false;
    *value = text[0] == '-' ? -parsed : parsed;
    return true;
}
