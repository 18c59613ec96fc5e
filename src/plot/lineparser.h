#ifndef LINEPARSER_H
#define LINEPARSER_H

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

// Reads lines of numbers out of a raw byte stream, as deliveries come, in time linear in the bytes.
class LineParser
{
public:
    static constexpr int maxValues = 8;
    static constexpr std::size_t maxLineBytes = 4096;

    struct Field
    {
        std::string_view label; // empty: the channel goes by position
        double value = 0;
        int position = 0; // of the field in its line, counting the fields that are not numbers
    };
    // One line with a number: its first maxValues numeric fields, and how many it had in all.
    // The labels point into the parser and stay valid only during the call.
    using LineHandler = std::function<void(const Field *fields, int count, int total)>;

    explicit LineParser(LineHandler handler);

    void feed(const char *data, std::size_t size);
    // Forgets a line begun and not finished.
    void reset();
    // The stream was cut (a lost device): the line it was in, up to its end, is not read.
    void breakLine();

    // A C-locale number: sign, digits, decimal point, exponent; nothing else, not even spaces.
    static bool parseNumber(std::string_view text, double *value);

private:
    void parseLine();

    LineHandler handler;
    std::string line;
    bool discarding = false;
};

#endif // LINEPARSER_H
