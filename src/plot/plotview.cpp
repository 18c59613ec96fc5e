#include "plot/plotview.h"

#include "plot/plotmodel.h"

#include <QLocale>
#include <QPainter>
#include <QPaintEvent>

#include <algorithm>
#include <cmath>

namespace {

// Distinct on white and to most colour-blind eyes (Okabe-Ito, then two darker ones).
const QRgb kColors[] = {0x0072B2, 0xD55E00, 0x009E73, 0xCC79A7,
                        0xE69F00, 0x56B4E9, 0x000000, 0x8B4513};

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

void PlotView::paintEvent(QPaintEvent *)
{
    dirty = false;
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    const QFontMetrics fm = fontMetrics();
    const int line = fm.height();

    const int legendHeight = line + 8;
    const int axisWidth = fm.horizontalAdvance(QStringLiteral("-000000")) + 8;
    const QRect plotArea(axisWidth, legendHeight, std::max(1, width() - axisWidth - 8),
                         std::max(1, height() - legendHeight - line - 8));

    const History &history = model->history();
    const std::int64_t end = paused ? std::min(frozenEnd, history.sampleCount())
                                    : history.sampleCount();
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
        float *l = lo.data() + c * columns;
        float *h = hi.data() + c * columns;
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
    for (double v : yTicks)
        p.drawLine(QPointF(plotArea.left(), yOf(v)), QPointF(plotArea.right(), yOf(v)));
    for (double t : xTicks) {
        const double x = plotArea.right() - t / window * (plotArea.width() - 1);
        p.drawLine(QPointF(x, plotArea.top()), QPointF(x, plotArea.bottom()));
    }
    p.setPen(Qt::darkGray);
    p.drawRect(plotArea.adjusted(0, 0, -1, -1));
    p.setPen(Qt::black);
    for (double v : yTicks) {
        p.drawText(QRectF(0, yOf(v) - line / 2.0, axisWidth - 4, line),
                   Qt::AlignRight | Qt::AlignVCenter, tickText(v, yStep));
    }
    for (double t : xTicks) {
        const double x = plotArea.right() - t / window * (plotArea.width() - 1);
        const QString text = t == 0 ? tr("0 s") : tickText(-t, xStep);
        p.drawText(QRectF(x - 40, plotArea.bottom() + 2, 80, line + 4),
                   Qt::AlignHCenter | Qt::AlignTop, text);
    }

    // Traces.
    p.setClipRect(plotArea);
    const double perColumn = span / std::max(1, columns);
    QVector<QLineF> lines;
    lines.reserve(columns);
    for (int c = 0; c < channels; ++c) {
        QPen pen(channelColor(c));
        pen.setCosmetic(true);
        if (perColumn < 2) {
            // Fewer samples than pixels: a line through each sample.
            pen.setWidthF(1.5);
            p.setPen(pen);
            p.setRenderHint(QPainter::Antialiasing, true);
            QVector<QPointF> points;
            auto flush = [&] {
                if (points.size() == 1)
                    p.drawPoint(points.front());
                else if (points.size() > 1)
                    p.drawPolyline(points.constData(), points.size());
                points.clear();
            };
            for (std::int64_t i = std::max<std::int64_t>(0, std::int64_t(std::ceil(first)));
                 i < end; ++i) {
                float v = 0;
                if (!history.value(c, i, &v)) {
                    flush();
                    continue;
                }
                const double x = plotArea.left() + (double(i) - first) / span * plotArea.width();
                points.append(QPointF(x, yOf(v)));
            }
            flush();
            p.setRenderHint(QPainter::Antialiasing, false);
            continue;
        }
        pen.setWidth(1);
        p.setPen(pen);
        lines.clear();
        const float *l = lo.constData() + c * columns;
        const float *h = hi.constData() + c * columns;
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
            const double px = plotArea.left() + x + 0.5;
            lines.append(QLineF(px, yOf(top), px, yOf(bottom)));
            previous = x;
        }
        p.drawLines(lines);
    }
    p.setClipping(false);

    drawLegend(p, QRect(plotArea.left(), 0, plotArea.width(), legendHeight));
    paintedEnd = end;
    emit framePainted(end);
}

void PlotView::drawLegend(QPainter &p, const QRect &area)
{
    const QFontMetrics fm = p.fontMetrics();
    int x = area.left() + 2;
    const int y = area.top() + 4;
    const int box = fm.height() - 4;
    for (int c = 0; c < model->channelCount(); ++c) {
        const double value = paused ? frozenLatest[c] : model->latest(c);
        const QString text = model->channelName(c) + QLatin1Char(' ') + QString::number(value, 'g', 6);
        p.fillRect(QRect(x, y + 2, box, box), channelColor(c));
        x += box + 4;
        p.setPen(Qt::black);
        p.drawText(QPoint(x, y + fm.ascent()), text);
        x += fm.horizontalAdvance(text) + 12;
    }
    QString status = rateText(paused ? frozenShownRate : model->rate());
    if (paused)
        status = tr("Paused") + QStringLiteral(" · ") + status;
    if (model->tooManyChannels())
        status = tr("Showing the first 8 channels") + QStringLiteral(" · ") + status;
    p.setPen(paused || model->tooManyChannels() ? QColor(0xB0, 0x30, 0x00) : Qt::black);
    p.drawText(area.adjusted(x, 4, -2, 0), Qt::AlignRight | Qt::AlignTop, status);
}
