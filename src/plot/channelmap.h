#ifndef CHANNELMAP_H
#define CHANNELMAP_H

#include "plot/lineparser.h"

#include <QString>
#include <QVector>

#include <string>
#include <string_view>
#include <vector>

// Which channel a field of a line belongs to: by its label, or else by its position in the line,
// in the order the channels first appeared; at most maxChannels of them.
class ChannelMap
{
public:
    static constexpr int maxChannels = LineParser::maxValues;

    // The field's channel, made at its first appearance; -1 once there are maxChannels.
    ChannelMap() { clear(); }

    int channelFor(const LineParser::Field &field);
    void clear();

    int count() const { return static_cast<int>(keys.size()); }
    // "ch2" for the second field of a line, or the field's label.
    QString name(int channel) const { return names.value(channel); }
    // A field found no channel, as there were too many.
    bool overflowed() const { return tooMany; }

private:
    std::vector<std::string> keys;
    QVector<QString> names;
    bool tooMany = false;
    // The channel of each of a line's first positions, found once: a line's fields are looked
    // up without comparing keys.
    static constexpr int knownPositions = 64;
    int byPosition[knownPositions];
};

#endif // CHANNELMAP_H
