#include "plot/markerlines.h"

#include "plot/plotmarkers.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

// Flags that would overlap go one row lower, and are left out below the last row.
constexpr int kFlagRows = 3;
constexpr int kFlagWidth = 140;

} // namespace

void MarkerLines::draw(QPainter &p, const PlotMarkers &markers, const QRect &area, double first,
                       double span, int columns, std::int64_t end)
{
    const auto &marks = markers.marks();
    const auto from
        = std::lower_bound(marks.begin(), marks.end(), std::int64_t(std::ceil(first)),
                           [](const PlotMarkers::Mark &m, std::int64_t s) { return m.sample < s; });
    const QFontMetrics fm = p.fontMetrics();
    const int flagHeight = fm.height() + 2;
    int rowEnds[kFlagRows];
    std::fill(std::begin(rowEnds), std::end(rowEnds), area.left() - 1);
    const int top = area.top() + 1;
    const int rows = std::max(1, area.height() - 2);
    for (auto it = from; it != marks.end() && it->sample <= end; ++it) {
        const int column
            = std::min(columns - 1, int(std::floor((double(it->sample) - first) / span * columns)));
        if (column < 0)
            continue;
        const int x = area.left() + column;
        const bool marker = it->type == CaptureEvent::Type::Marker;
        const QColor color = marker ? markerColor() : gapColor();
        // Rectangles, not lines, as for the grid.
        if (marker) {
            p.fillRect(QRect(x, top, 1, rows), color);
        } else {
            for (int y = top; y < top + rows; y += 6)
                p.fillRect(QRect(x, y, 1, std::min(3, top + rows - y)), color);
        }
        const QString text = fm.elidedText(PlotMarkers::text(*it), Qt::ElideRight, kFlagWidth);
        const int width = fm.horizontalAdvance(text) + 6;
        // Near the right edge the flag hangs to the left of its line.
        const int left = x + width > area.right() ? x - width + 1 : x;
        for (int row = 0; row < kFlagRows; ++row) {
            if (left <= rowEnds[row] || top + (row + 1) * flagHeight > area.bottom())
                continue;
            const QRect flag(left, top + row * flagHeight, width, flagHeight);
            if (marker) {
                p.fillRect(flag, color);
                p.setPen(Qt::white);
            } else {
                p.fillRect(flag, QColor(255, 255, 255, 220));
                p.setPen(color);
            }
            p.drawText(QPoint(flag.left() + 3, flag.top() + 1 + fm.ascent()), text);
            rowEnds[row] = flag.right() + 2;
            break;
        }
    }
}
