#include "plot/plotview.h"

#include "plot/plotmodel.h"

#include <QLocale>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

// Distinct on white and to most colour-blind eyes (Okabe-Ito, then two darker ones).
const QRgb kColors[]
    = {0x0072B2, 0xD55E00, 0x009E73, 0xCC79A7, 0xE69F00, 0x56B4E9, 0x000000, 0x8B4513};

constexpr int kFrameMs = 40;

// A step of 1, 2 or 5 times a power of ten that gives about `count` ticks over `range`.
double niceStep(double range, int count)
{
    const double raw = range / std::max(1, count);
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0}) {
        if (m * power >= raw)
            return m * power;
    }
    return 10 * power;
}

QString tickText(double value, double step)
{
    if (std::abs(value) < step * 1e-6)
        value = 0;
    // Wide numbers in few digits, so that they fit beside the plot.
    if (std::abs(value) >= 1e5 || (step < 1e-3 && value != 0))
        return QString::number(value, 'g', 3);
    const int decimals = step >= 1 ? 0 : int(std::ceil(-std::log10(step)));
    return QString::number(value, 'f', decimals);
}

} // namespace

PlotView::PlotView(const PlotModel *model, QWidget *parent)
    : QWidget(parent)
    , model(model)
{
    setObjectName(QStringLiteral("plotView"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    frameTimer.setInterval(kFrameMs);
    connect(&frameTimer, &QTimer::timeout, this, &PlotView::frameTick);
}

QColor PlotView::channelColor(int channel)
{
    return QColor(kColors[channel % int(sizeof kColors / sizeof kColors[0])]);
}

QString PlotView::rateText(double samplesPerSecond)
{
    double shown = std::round(samplesPerSecond);
    if (shown >= 1000) {
        const double unit = std::pow(10.0, std::floor(std::log10(shown)) - 2);
        shown = std::round(shown / unit) * unit;
    }
    return tr("%1 samples/s").arg(QLocale(QLocale::English).toString(qint64(shown)));
}

QSize PlotView::sizeHint() const
{
    return QSize(640, 260);
}

QSize PlotView::minimumSizeHint() const
{
    return QSize(200, 120);
}

void PlotView::setWindowSeconds(double seconds)
{
    window = seconds;
    update();
}

void PlotView::setPaused(bool pause)
{
    if (pause == paused)
        return;
    paused = pause;
    if (paused) {
        frozenEnd = model->history().sampleCount();
        frozenRate = model->axisRate(window);
        frozenShownRate = model->rate();
        for (int c = 0; c < model->channelCount(); ++c)
            frozenLatest[c] = model->latest(c);
    }
    update();
}

void PlotView::setFixedRange(double low, double high)
{
    if (!(low < high))
        return;
    autoRange = false;
    fixedLo = low;
    fixedHi = high;
    update();
}

void PlotView::setAutoRange()
{
    autoRange = true;
    update();
}

void PlotView::dataChanged()
{
    dirty = true;
}

void PlotView::cleared()
{
    paused = false;
    frozenEnd = 0;
    dirty = true;
    update();
}

void PlotView::showEvent(QShowEvent *event)
{
    frameTimer.start();
    QWidget::showEvent(event);
}

void PlotView::hideEvent(QHideEvent *event)
{
    // A hidden plot costs nothing but the reading of the numbers.
    frameTimer.stop();
    QWidget::hideEvent(event);
}

void PlotView::frameTick()
{
    if (paused)
        return;
    // The measured rate falls once the samples stop: a frame now and then shows it.
    if (dirty || ++idleFrames >= 500 / kFrameMs) {
        update();
        idleFrames = 0;
    }
}

void PlotView::paintEvent(QPaintEvent * /*event*/)
{
    dirty = false;
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    const QFontMetrics fm = fontMetrics();
    const int line = fm.height();

    const int axisWidth = fm.horizontalAdvance(QStringLiteral("-000000")) + 8;
    const int legendHeight = layOutLegend(fm, axisWidth, std::max(1, width() - axisWidth - 8));
    const QRect plotArea(axisWidth, legendHeight, std::max(1, width() - axisWidth - 8),
                         std::max(1, height() - legendHeight - line - 8));

    const History &history = model->history();
    const std::int64_t end
        = paused ? std::min(frozenEnd, history.sampleCount()) : history.sampleCount();
    const double rate = paused ? frozenRate : model->axisRate(window);
    const double span = window * rate;
    const double first = double(end) - span;
    const int columns = std::min(plotArea.width(), History::maxColumns);
    const int channels = model->channelCount();

    lo.resize(columns * channels);
    hi.resize(columns * channels);
    double dataLo = HUGE_VAL;
    double dataHi = -HUGE_VAL;
    for (int c = 0; c < channels; ++c) {
        float *l = lo.data() + std::ptrdiff_t(c) * columns;
        float *h = hi.data() + std::ptrdiff_t(c) * columns;
        history.columns(c, first, span, columns, l, h);
        for (int x = 0; x < columns; ++x) {
            if (l[x] <= h[x]) {
                dataLo = std::min<double>(dataLo, l[x]);
                dataHi = std::max<double>(dataHi, h[x]);
            }
        }
    }
    double yLo = fixedLo;
    double yHi = fixedHi;
    if (autoRange) {
        if (dataLo > dataHi) {
            dataLo = -1;
            dataHi = 1;
        } else if (dataHi - dataLo < 1e-9 * std::max(1.0, std::abs(dataHi))) {
            const double pad = std::max(1.0, std::abs(dataHi) * 0.1);
            dataLo -= pad;
            dataHi += pad;
        }
        const double margin = (dataHi - dataLo) * 0.05;
        yLo = dataLo - margin;
        yHi = dataHi + margin;
    }
    shownLo = yLo;
    shownHi = yHi;
    auto yOf = [&](double v) {
        return plotArea.bottom() - (v - yLo) / (yHi - yLo) * (plotArea.height() - 1);
    };

    // Grid and axes.
    p.setPen(QColor(0xDD, 0xDD, 0xDD));
    const double yStep = niceStep(yHi - yLo, std::max(2, plotArea.height() / (line * 2)));
    QVector<double> yTicks;
    for (double v = std::ceil(yLo / yStep) * yStep; v <= yHi; v += yStep)
        yTicks.append(v);
    const double xStep = niceStep(window, std::max(2, std::min(10, plotArea.width() / 70)));
    QVector<double> xTicks;
    for (double t = 0; t <= window + xStep * 1e-6; t += xStep)
        xTicks.append(t);
    // Rectangles, not lines: the raster engine fills them a hundred times faster.
    const QColor gridColor(0xDD, 0xDD, 0xDD);
    for (double v : yTicks)
        p.fillRect(QRect(plotArea.left(), int(std::lround(yOf(v))), plotArea.width(), 1),
                   gridColor);
    for (double t : xTicks) {
        const int x = int(std::lround(plotArea.right() - t / window * (plotArea.width() - 1)));
        p.fillRect(QRect(x, plotArea.top(), 1, plotArea.height()), gridColor);
    }
    p.setPen(Qt::black);
    // Placed by hand: the aligning overloads lay out each text anew, a good part of a frame.
    for (double v : yTicks) {
        const QString text = tickText(v, yStep);
        p.drawText(
            QPointF(axisWidth - 4 - fm.horizontalAdvance(text), yOf(v) - line / 2.0 + fm.ascent()),
            text);
    }
    for (double t : xTicks) {
        const double x = plotArea.right() - t / window * (plotArea.width() - 1);
        const QString text = t == 0 ? tr("0 s") : tickText(-t, xStep);
        p.drawText(
            QPointF(x - fm.horizontalAdvance(text) / 2.0, plotArea.bottom() + 2 + fm.ascent()),
            text);
    }

    // Traces, as runs of pixels per column written straight into an image: QPainter treats each
    // pixel of a vertical line as a span of its own, and strokes slanted ones slower still.
    if (canvas.size() != plotArea.size())
        canvas = QImage(plotArea.size(), QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    auto *pixels = reinterpret_cast<QRgb *>(canvas.bits());
    const int stride = canvas.bytesPerLine() / int(sizeof(QRgb));
    const int lastRow = canvas.height() - 1;
    const int lastColumn = canvas.width() - 1;
    QRgb color = 0;
    // Two pixels thick, so that a flat level stays plain to see.
    auto run = [&](int x, double ya, double yb) {
        if (x < 0 || x > lastColumn)
            return;
        const int top = std::clamp(int(std::lround(std::min(ya, yb))) - plotArea.top(), 0, lastRow);
        const int bottom
            = std::clamp(int(std::lround(std::max(ya, yb))) - plotArea.top() + 1, 0, lastRow);
        for (int y = top; y <= bottom; ++y)
            pixels[y * stride + x] = color;
    };
    const double perColumn = span / std::max(1, columns);
    for (int c = 0; c < channels; ++c) {
        color = channelColor(c).rgba();
        if (perColumn < 2) {
            // Few samples a pixel: straight lines from sample to sample.
            bool joined = false;
            double px = 0;
            double py = 0;
            for (std::int64_t i = std::max<std::int64_t>(0, std::int64_t(std::ceil(first)));
                 i < end; ++i) {
                float v = 0;
                if (!history.value(c, i, &v)) {
                    joined = false;
                    continue;
                }
                const double x = (double(i) - first) / span * columns;
                const double y = yOf(v);
                if (!joined) {
                    run(int(std::floor(x)), y, y);
                } else {
                    for (int cx = int(std::floor(px)); cx <= int(std::floor(x)); ++cx) {
                        const double xa = std::max(px, double(cx));
                        const double xb = std::min(x, double(cx + 1));
                        const double slope = x > px ? (y - py) / (x - px) : 0;
                        run(cx, py + (xa - px) * slope, py + (xb - px) * slope);
                    }
                }
                joined = true;
                px = x;
                py = y;
            }
            continue;
        }
        const float *l = lo.constData() + std::ptrdiff_t(c) * columns;
        const float *h = hi.constData() + std::ptrdiff_t(c) * columns;
        int previous = -1;
        for (int x = 0; x < columns; ++x) {
            if (l[x] > h[x]) {
                previous = -1;
                continue;
            }
            double top = h[x];
            double bottom = l[x];
            // Reach the column before, so that the trace is one line and not loose strokes.
            if (previous >= 0) {
                top = std::max<double>(top, l[previous]);
                bottom = std::min<double>(bottom, h[previous]);
            }
            run(x, yOf(top), yOf(bottom));
            previous = x;
        }
    }
    p.drawImage(plotArea.topLeft(), canvas);
    const QRect &a = plotArea;
    for (const QRect &edge :
         {QRect(a.left(), a.top(), a.width(), 1), QRect(a.left(), a.bottom(), a.width(), 1),
          QRect(a.left(), a.top(), 1, a.height()), QRect(a.right(), a.top(), 1, a.height())})
        p.fillRect(edge, Qt::darkGray);

    drawLegend(p, QRect(plotArea.left(), 0, plotArea.width(), legendHeight));
    paintedEnd = end;
    emit framePainted(end);
}

int PlotView::layOutLegend(const QFontMetrics &fm, int left, int width)
{
    legendStatus = rateText(paused ? frozenShownRate : model->rate());
    if (paused)
        legendStatus = tr("Paused") + QStringLiteral(" · ") + legendStatus;
    if (model->tooManyChannels())
        legendStatus = tr("Showing the first 8 channels") + QStringLiteral(" · ") + legendStatus;
    const int line = fm.height() + 2;
    const int statusWidth = fm.horizontalAdvance(legendStatus) + 16;
    // A value keeps its room as its digits change, so that the entries do not jump about.
    const int valueWidth = fm.horizontalAdvance(QStringLiteral("-0000.00"));
    legendEntries.clear();
    int x = 0;
    int row = 0;
    for (int c = 0; c < model->channelCount(); ++c) {
        const double value = paused ? frozenLatest[c] : model->latest(c);
        LegendEntry entry{model->channelName(c), QString::number(value, 'g', 6), QPoint()};
        const int nameWidth = fm.horizontalAdvance(entry.name);
        const int entryWidth = fm.height() + nameWidth + 8
            + std::max(valueWidth, fm.horizontalAdvance(entry.value)) + 14;
        const int room = width - (row == 0 ? statusWidth : 0);
        if (x > 0 && x + entryWidth > room) {
            ++row;
            x = 0;
        }
        entry.at = QPoint(left + x, 4 + row * line);
        legendEntries.append(entry);
        x += entryWidth;
    }
    return 8 + (row + 1) * line;
}

void PlotView::drawLegend(QPainter &p, const QRect &area)
{
    const QFontMetrics fm = p.fontMetrics();
    const int box = fm.height() - 4;
    p.setPen(Qt::black);
    for (int c = 0; c < legendEntries.size(); ++c) {
        const LegendEntry &e = legendEntries.at(c);
        p.fillRect(QRect(e.at.x(), e.at.y() + 2, box, box), channelColor(c));
        const int textX = e.at.x() + box + 4;
        p.drawText(QPoint(textX, e.at.y() + fm.ascent()), e.name);
        p.drawText(QPoint(textX + fm.horizontalAdvance(e.name) + 4, e.at.y() + fm.ascent()),
                   e.value);
    }
    p.setPen(paused || model->tooManyChannels() ? QColor(0xB0, 0x30, 0x00) : Qt::black);
    p.drawText(QPoint(area.right() - 2 - fm.horizontalAdvance(legendStatus), 4 + fm.ascent()),
               legendStatus);
}
