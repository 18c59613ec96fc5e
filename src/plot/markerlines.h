#ifndef MARKERLINES_H
#define MARKERLINES_H

#include <QColor>
#include <QRect>

#include <cstdint>

class PlotMarkers;
class QPainter;

// Draws the plot's markers as vertical lines with their number or label on a flag at the top;
// the moments a device was lost or came back as dashed grey lines.
class MarkerLines
{
public:
    static QColor markerColor() { return QColor(0xC0, 0x00, 0x7A); }
    static QColor gapColor() { return QColor(0x70, 0x70, 0x70); }

    // Samples [first, first + span) lie over `columns` pixel columns of area; samples after `end`
    // are not shown yet. Costs as much as the marks within the window.
    static void draw(QPainter &p, const PlotMarkers &markers, const QRect &area, double first,
                     double span, int columns, std::int64_t end);
};

#endif // MARKERLINES_H
