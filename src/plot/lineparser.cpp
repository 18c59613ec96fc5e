#include "plot/lineparser.h"

#include <algorithm>
#include <charconv>

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool isComma(char c)
{
    return c == ',' || c == ';';
}

bool isSeparator(char c)
{
    return isBlank(c) || isComma(c);
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

void LineParser::breakLine()
{
    line.clear();
    discarding = true;
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
    auto add = [&](std::string_view label, std::string_view text, int position) {
        double value = 0;
        if (!parseNumber(text, &value))
            return; // a gap in its channel; the next field keeps its own
        ++total;
        if (count < maxValues)
            fields[count++] = Field{label, value, position};
    };
    int position = 0;
    // A field began since the last comma or semicolon: the next one does not make an empty one.
    bool fieldOpen = false;
    std::string_view pendingLabel;
    int pendingPosition = 0;
    const std::string_view text(line);
    std::size_t pos = 0;
    while (true) {
        while (pos < text.size() && isBlank(text[pos]))
            ++pos;
        if (pos == text.size())
            break;
        if (isComma(text[pos])) {
            if (!fieldOpen)
                ++position; // ",," and a line that starts with ",": an empty field
            fieldOpen = false;
            pendingLabel = {};
            ++pos;
            continue;
        }
        std::size_t fieldEnd = pos;
        while (fieldEnd < text.size() && !isSeparator(text[fieldEnd]))
            ++fieldEnd;
        std::string_view field = text.substr(pos, fieldEnd - pos);
        pos = fieldEnd;
        fieldOpen = true;

        const std::size_t mark = field.find_first_of(":=");
        if (!pendingLabel.empty()) {
            const std::string_view label = pendingLabel;
            pendingLabel = {};
            if (mark == std::string_view::npos) {
                // "a: 1": the label's number comes after blanks, in the same field.
                add(label, field, pendingPosition);
                continue;
            }
        }
        const int at = position++;
        std::string_view label;
        if (mark != std::string_view::npos) {
            const std::string_view name = field.substr(0, mark);
            if (!isLabelText(name))
                continue;
            field.remove_prefix(mark + 1);
            if (field.empty()) {
                pendingLabel = name;
                pendingPosition = at;
                continue;
            }
            label = name;
        }
        add(label, field, at);
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
