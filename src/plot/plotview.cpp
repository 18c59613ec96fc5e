#include "plot/plotview.h"

#include "plot/markerlines.h"
#include "plot/plotmodel.h"
#include "plot/viewprocessor.h"

#include <QLocale>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Distinct on white and to most colour-blind eyes (Okabe-Ito, then two darker ones).
const QRgb kColors[]
    = {0x0072B2, 0xD55E00, 0x009E73, 0xCC79A7, 0xE69F00, 0x56B4E9, 0x000000, 0x8B4513};

constexpr int kFrameMs = 40;
// The height of the bar that marks values beyond the fixed range, over the border's row.
constexpr int kClipRows = 5;

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

// Room for the y axis' texts, left of the plot.
int axisWidthFor(const QFontMetrics &fm)
{
    return fm.horizontalAdvance(QStringLiteral("-000000")) + 8;
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

// A filtered value carries the filter's ripple in its last digits: four are what can be read.
QString latestText(double value, bool filtered)
{
    if (!filtered || value == 0 || !std::isfinite(value))
        return QString::number(value, 'g', 6);
    const int whole = int(std::floor(std::log10(std::abs(value)))) + 1;
    return QString::number(value, 'g', std::max(4, whole));
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
        frame = model->frame(window);
        // Now, while the history has them: the samples may leave it before the next frame.
        takeSamples(layOut(fontMetrics()));
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

void PlotView::setProcessor(ViewProcessor *p)
{
    processor = p;
    update();
}

QStringList PlotView::legendTexts() const
{
    QStringList texts;
    for (const LegendEntry &e : legendEntries)
        texts << QStringList{e.name, e.value, e.note}.join(QLatin1Char(' ')).trimmed();
    texts << legendStatus;
    return texts;
}

void PlotView::dataChanged()
{
    dirty = true;
}

void PlotView::cleared()
{
    paused = false;
    frame = PlotModel::Frame();
    taken = Taken();
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
    if (processor && processor->step(*model, window))
        dirty = true;
    // The measured rate falls once the samples stop: a frame now and then shows it.
    if (dirty || ++idleFrames >= 500 / kFrameMs) {
        update();
        idleFrames = 0;
    }
}

double PlotView::Geometry::xOf(double sample) const
{
    return (sample - first) / span * columns;
}

double PlotView::Geometry::yOf(double value) const
{
    return area.bottom() - (value - yLo) / (yHi - yLo) * (area.height() - 1);
}

void PlotView::paintEvent(QPaintEvent * /*event*/)
{
    dirty = false;
    if (paused)
        frame.end = std::min(frame.end, model->history().sampleCount());
    else
        frame = model->frame(window);
    if (!paused && processor && processor->shows()) {
        for (int c = 0; c < frame.channels; ++c)
            frame.latest[c] = processor->latest(c);
    }
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    const QFontMetrics fm = fontMetrics();
    Geometry g = layOut(fm);
    // A paused view keeps the samples it took, which the history may no longer have.
    if (!paused || !(taken == Taken{g.columns, g.first, g.span, frame.channels}))
        takeSamples(g);
    fitRange(g);
    shownLo = g.yLo;
    shownHi = g.yHi;
    beyond = !autoRange && dataLo <= dataHi && (dataLo < g.yLo || dataHi > g.yHi);
    const int legendHeight = layOutLegend(fm, g.area.left(), g.area.width());
    g.area.setTop(legendHeight);
    g.area.setHeight(std::max(1, height() - legendHeight - fm.height() - 8));
    shownArea = g.area;
    drawGrid(p, g);
    drawTraces(p, g);
    // Over the traces, under the border and the legend.
    if (markers)
        MarkerLines::draw(p, *markers, g.area, g.first, g.span, g.columns, frame.end);
    drawBorder(p, g.area);
    drawLegend(p, QRect(g.area.left(), 0, g.area.width(), legendHeight));
    emit framePainted(frame.end);
}

PlotView::Geometry PlotView::layOut(const QFontMetrics &fm) const
{
    // The rows are known once the legend is laid out.
    const int axisWidth = axisWidthFor(fm);
    Geometry g;
    g.area = QRect(axisWidth, 0, std::max(1, width() - axisWidth - 8), 1);
    g.columns = std::min(g.area.width(), History::maxColumns);
    g.span = window * frame.axisRate;
    g.first = double(frame.end) - g.span;
    return g;
}

void PlotView::takeSamples(const Geometry &g)
{
    // The processed view's samples are numbered from its offset in the raw ones.
    const bool processed = processor && processor->shows();
    const History &history = processed ? processor->history() : model->history();
    const std::int64_t shift = processed ? processor->offset() : 0;
    const int channels = frame.channels;
    taken = Taken{g.columns, g.first, g.span, channels};
    const std::int64_t oldest = std::max<std::int64_t>(0, std::int64_t(std::floor(g.first)));
    samplesGone = oldest < frame.end && history.firstHeld(g.span / g.columns) + shift > oldest;
    dataLo = HUGE_VAL;
    dataHi = -HUGE_VAL;
    if (rawMode(g)) {
        // The sample before the left edge too: the trace comes in from it.
        rawFirst = std::max<std::int64_t>(0, std::int64_t(std::floor(g.first)));
        rawCount = int(std::max<std::int64_t>(0, frame.end - rawFirst));
        raw.resize(rawCount * channels);
        for (int c = 0; c < channels; ++c) {
            float *out = raw.data() + std::ptrdiff_t(c) * rawCount;
            for (int k = 0; k < rawCount; ++k) {
                float v = 0;
                if (history.value(c, rawFirst + k - shift, &v)) {
                    out[k] = v;
                    dataLo = std::min<double>(dataLo, v);
                    dataHi = std::max<double>(dataHi, v);
                } else {
                    out[k] = std::numeric_limits<float>::quiet_NaN();
                }
            }
        }
        return;
    }
    lo.resize(g.columns * channels);
    hi.resize(g.columns * channels);
    for (int c = 0; c < channels; ++c) {
        float *l = lo.data() + std::ptrdiff_t(c) * g.columns;
        float *h = hi.data() + std::ptrdiff_t(c) * g.columns;
        history.columns(c, g.first - double(shift), g.span, g.columns, l, h);
        for (int x = 0; x < g.columns; ++x) {
            if (l[x] <= h[x]) {
                dataLo = std::min<double>(dataLo, l[x]);
                dataHi = std::max<double>(dataHi, h[x]);
            }
        }
    }
}

void PlotView::fitRange(Geometry &g) const
{
    g.yLo = fixedLo;
    g.yHi = fixedHi;
    if (autoRange) {
        double low = dataLo;
        double high = dataHi;
        if (low > high) {
            low = -1;
            high = 1;
        } else if (high - low < 1e-9 * std::max(1.0, std::abs(high))) {
            const double pad = std::max(1.0, std::abs(high) * 0.1);
            low -= pad;
            high += pad;
        }
        const double margin = (high - low) * 0.05;
        g.yLo = low - margin;
        g.yHi = high + margin;
    }
}

void PlotView::drawGrid(QPainter &p, const Geometry &g) const
{
    const QFontMetrics fm = p.fontMetrics();
    const int line = fm.height();
    const QRect &a = g.area;
    const double yStep = niceStep(g.yHi - g.yLo, std::max(2, a.height() / (line * 2)));
    QVector<double> yTicks;
    for (double v = std::ceil(g.yLo / yStep) * yStep; v <= g.yHi; v += yStep)
        yTicks.append(v);
    const double xStep = niceStep(window, std::max(2, std::min(10, a.width() / 70)));
    QVector<double> xTicks;
    for (double t = 0; t <= window + xStep * 1e-6; t += xStep)
        xTicks.append(t);
    // Rectangles, not lines: the raster engine fills them a hundred times faster.
    const QColor gridColor(0xDD, 0xDD, 0xDD);
    for (double v : yTicks)
        p.fillRect(QRect(a.left(), int(std::lround(g.yOf(v))), a.width(), 1), gridColor);
    for (double t : xTicks) {
        const int x = int(std::lround(a.right() - t / window * (a.width() - 1)));
        p.fillRect(QRect(x, a.top(), 1, a.height()), gridColor);
    }
    p.setPen(Qt::black);
    // Placed by hand: the aligning overloads lay out each text anew, a good part of a frame.
    for (double v : yTicks) {
        const QString text = tickText(v, yStep);
        p.drawText(
            QPointF(a.left() - 4 - fm.horizontalAdvance(text), g.yOf(v) - line / 2.0 + fm.ascent()),
            text);
    }
    for (double t : xTicks) {
        const double x = a.right() - t / window * (a.width() - 1);
        const QString text = t == 0 ? tr("0 s") : tickText(-t, xStep);
        p.drawText(QPointF(x - fm.horizontalAdvance(text) / 2.0, a.bottom() + 2 + fm.ascent()),
                   text);
    }
}

void PlotView::drawTraces(QPainter &p, const Geometry &g)
{
    // Runs of pixels per column written straight into an image: QPainter treats each pixel of a
    // vertical line as a span of its own, and strokes slanted ones slower still.
    const QRect &a = g.area;
    if (canvas.size() != a.size())
        canvas = QImage(a.size(), QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    auto *pixels = reinterpret_cast<QRgb *>(canvas.bits());
    const int stride = canvas.bytesPerLine() / int(sizeof(QRgb));
    const int lastRow = canvas.height() - 1;
    const int lastColumn = canvas.width() - 1;
    QRgb color = 0;
    // Inside the border, so that a value on the range's edge is not hidden under it.
    const double topRow = a.top() + std::min(1, lastRow);
    const double bottomRow = std::max(topRow, double(a.bottom() - 1));
    // Two pixels thick, so that a flat level stays plain to see. Clamped as doubles: a value far
    // beyond the range has a row beyond what an int holds.
    auto run = [&](int x, double ya, double yb) {
        if (x < 0 || x > lastColumn)
            return;
        const int top = int(std::lround(std::clamp(std::min(ya, yb), topRow, bottomRow))) - a.top();
        const int bottom
            = int(std::lround(std::clamp(std::max(ya, yb), topRow, bottomRow))) - a.top() + 1;
        for (int y = top; y <= std::min(bottom, lastRow); ++y)
            pixels[y * stride + x] = color;
    };
    // Where a value leaves the range, a bar on the edge it leaves by: the user sees the signal
    // go beyond, not a level that is not there.
    auto clip = [&](int x, double low, double high) {
        if (x < 0 || x > lastColumn || (low >= g.yLo && high <= g.yHi))
            return;
        const int rows = std::min(kClipRows, lastRow);
        const int from = high > g.yHi ? 0 : lastRow - rows;
        for (int y = from; y <= from + rows; ++y)
            pixels[y * stride + x] = color;
    };
    for (int c = 0; c < frame.channels; ++c) {
        color = channelColor(c).rgba();
        if (rawMode(g)) {
            // Few samples a pixel: straight lines from sample to sample.
            const float *values = raw.constData() + std::ptrdiff_t(c) * rawCount;
            bool joined = false;
            double px = 0;
            double py = 0;
            for (int k = 0; k < rawCount; ++k) {
                if (std::isnan(values[k])) {
                    joined = false;
                    continue;
                }
                const double x = g.xOf(double(rawFirst + k));
                const double y = g.yOf(values[k]);
                clip(int(std::floor(x)), values[k], values[k]);
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
        const float *l = lo.constData() + std::ptrdiff_t(c) * g.columns;
        const float *h = hi.constData() + std::ptrdiff_t(c) * g.columns;
        int previous = -1;
        for (int x = 0; x < g.columns; ++x) {
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
            run(x, g.yOf(top), g.yOf(bottom));
            clip(x, l[x], h[x]);
            previous = x;
        }
    }
    p.drawImage(a.topLeft(), canvas);
}

void PlotView::drawBorder(QPainter &p, const QRect &a) const
{
    for (const QRect &edge :
         {QRect(a.left(), a.top(), a.width(), 1), QRect(a.left(), a.bottom(), a.width(), 1),
          QRect(a.left(), a.top(), 1, a.height()), QRect(a.right(), a.top(), 1, a.height())})
        p.fillRect(edge, Qt::darkGray);
}

int PlotView::layOutLegend(const QFontMetrics &fm, int left, int width)
{
    legendStatus = rateText(frame.rate);
    if (beyond)
        legendStatus = tr("Beyond the range") + QStringLiteral(" · ") + legendStatus;
    if (paused && samplesGone)
        legendStatus
            = tr("Paused · older samples left the history") + QStringLiteral(" · ") + legendStatus;
    else if (paused)
        legendStatus = tr("Paused") + QStringLiteral(" · ") + legendStatus;
    if (model->tooManyChannels())
        legendStatus = tr("Showing the first 8 channels") + QStringLiteral(" · ") + legendStatus;
    legendWarns = paused || beyond || model->tooManyChannels();
    if (processor && !processor->stateText().isEmpty()) {
        legendStatus = processor->stateText() + QStringLiteral(" · ") + legendStatus;
        legendWarns = legendWarns || !processor->refusal().isEmpty();
    }
    const auto windowFirst = std::int64_t(std::floor(double(frame.end) - window * frame.axisRate));
    const int line = fm.height() + 2;
    const int statusWidth = fm.horizontalAdvance(legendStatus) + 16;
    // A value keeps its room as its digits change, so that the entries do not jump about.
    const int valueWidth = fm.horizontalAdvance(QStringLiteral("-0000.00"));
    legendEntries.clear();
    const bool filtered = processor && processor->shows();
    int x = 0;
    int row = 0;
    for (int c = 0; c < frame.channels; ++c) {
        LegendEntry entry{model->channelName(c), latestText(frame.latest[c], filtered), QString(),
                          QPoint()};
        if (processor) {
            const double share = processor->clipShare(*model, c, windowFirst, frame.end);
            if (share > 0)
                entry.note = share < 0.01 ? tr("clipping <1 %")
                                          : tr("clipping %1 %").arg(std::lround(share * 100));
        }
        const int nameWidth = fm.horizontalAdvance(entry.name);
        const int noteWidth = entry.note.isEmpty() ? 0 : fm.horizontalAdvance(entry.note) + 6;
        const int entryWidth = fm.height() + nameWidth + 8
            + std::max(valueWidth, fm.horizontalAdvance(entry.value)) + noteWidth + 14;
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
        const int valueX = textX + fm.horizontalAdvance(e.name) + 4;
        p.drawText(QPoint(valueX, e.at.y() + fm.ascent()), e.value);
        if (!e.note.isEmpty()) {
            // After the value's room, so that it stays put as the digits change.
            const int noteX = valueX
                + std::max(fm.horizontalAdvance(QStringLiteral("-0000.00")),
                           fm.horizontalAdvance(e.value))
                + 6;
            p.setPen(QColor(0xB0, 0x30, 0x00));
            p.drawText(QPoint(noteX, e.at.y() + fm.ascent()), e.note);
            p.setPen(Qt::black);
        }
    }
    p.setPen(legendWarns ? QColor(0xB0, 0x30, 0x00) : Qt::black);
    p.drawText(QPoint(area.right() - 2 - fm.horizontalAdvance(legendStatus), 4 + fm.ascent()),
               legendStatus);
}
