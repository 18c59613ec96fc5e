#include "plot/channelmap.h"

#include <algorithm>
#include <iterator>

namespace {

// Labels are printable ASCII, so a key that starts with a control byte is a position.
constexpr char kPositionMark = '\x01';

} // namespace

int ChannelMap::channelFor(const LineParser::Field &field)
{
    const bool byPlace = field.label.empty() && field.position < knownPositions;
    if (byPlace && byPosition[field.position] >= 0)
        return byPosition[field.position];
    // Lines hold at most 4,096 bytes, so a position fits in two bytes.
    const char position[3]
        = {kPositionMark, char(field.position & 0xff), char(field.position >> 8)};
    const std::string_view key = field.label.empty() ? std::string_view(position, 3) : field.label;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (keys[i] == key) {
            if (byPlace)
                byPosition[field.position] = static_cast<int>(i);
            return static_cast<int>(i);
        }
    }
    if (count() >= maxChannels) {
        tooMany = true;
        return -1;
    }
    keys.emplace_back(key);
    names.push_back(field.label.empty()
                        ? QStringLiteral("ch%1").arg(field.position + 1)
                        : QString::fromLatin1(key.data(), static_cast<int>(key.size())));
    if (byPlace)
        byPosition[field.position] = count() - 1;
    return count() - 1;
}

void ChannelMap::clear()
{
    keys.clear();
    names.clear();
    tooMany = false;
    std::fill(std::begin(byPosition), std::end(byPosition), -1);
}
