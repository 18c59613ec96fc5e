#include "plot/psdview.h"

#include "plot/plotmodel.h"
#include "plot/plotview.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kRefreshMs = 250;
// Below the strongest bin: what a 16-bit ADC's noise floor and a strong line both fit in.
constexpr double kRangeDb = 100;

} // namespace

SpectrumView::SpectrumView(const PlotModel *model, QWidget *parent)
    : QWidget(parent)
    , model(model)
{
    setObjectName(QStringLiteral("spectrumView"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    for (auto &s : spectra)
        s = std::make_unique<Spectrum>();
    timer.setInterval(kRefreshMs);
    connect(&timer, &QTimer::timeout, this, &SpectrumView::refresh);
}

SpectrumView::~SpectrumView() = default;

QSize SpectrumView::sizeHint() const
{
    return QSize(640, 260);
}

QSize SpectrumView::minimumSizeHint() const
{
    return QSize(200, 120);
}

void SpectrumView::setPaused(bool pause)
{
    paused = pause;
}

void SpectrumView::showEvent(QShowEvent *event)
{
    timer.start();
    refresh();
    QWidget::showEvent(event);
}

void SpectrumView::hideEvent(QHideEvent *event)
{
    timer.stop();
    QWidget::hideEvent(event);
}

void SpectrumView::refresh()
{
    if (paused)
        return;
    const History &history = model->history();
    // While samples stop coming, the rate last measured; never a guess.
    const double rate = model->measuredRate();
    const std::int64_t end = history.sampleCount();
    const std::int64_t count
        = std::min(end - history.firstHeld(1), std::int64_t(std::ceil(seconds * rate)));
    shownChannels = model->channelCount();
    shownRate = rate;
    texts.clear();
    for (int c = 0; c < shownChannels; ++c) {
        Spectrum &s = *spectra[std::size_t(c)];
        const bool ok = s.compute([&](std::int64_t i, float *v) { return history.value(c, i, v); },
                                  end, count, rate);
        const QString name = model->channelName(c);
        if (!ok) {
            texts << (rate > 0 ? tr("%1: too few samples for a spectrum").arg(name)
                               : tr("%1: no spectrum until a sample rate is measured").arg(name));
            continue;
        }
        const Spectrum::Mains m = s.mains();
        const long percent = std::lround(m.share * 100);
        if (m.hz == 0)
            texts << tr("%1 mains: no signal").arg(name);
        else if (percent < 1) // which of 50 and 60 Hz leads is noise
            texts << tr("%1 mains: under 1 %").arg(name);
        else
            texts << tr("%1 mains %2 Hz: %3 %").arg(name).arg(m.hz).arg(percent);
    }
    update();
    emit refreshed();
}

void SpectrumView::paintEvent(QPaintEvent * /*event*/)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    const QFontMetrics fm = fontMetrics();
    const int line = fm.height() + 2;
    // The readouts across the top, as the plot's legend.
    int x = 4;
    int row = 0;
    const int axisWidth = fm.horizontalAdvance(QStringLiteral("-000 dB")) + 8;
    for (int c = 0; c < texts.size(); ++c) {
        const int w = fm.height() + fm.horizontalAdvance(texts[c]) + 14;
        if (x > 4 && x + w > width() - 4) {
            ++row;
            x = 4;
        }
        const int box = fm.height() - 4;
        p.fillRect(QRect(axisWidth + x - 4, 4 + row * line + 2, box, box),
                   PlotView::channelColor(c));
        p.setPen(Qt::black);
        p.drawText(QPoint(axisWidth + x - 4 + box + 4, 4 + row * line + fm.ascent()), texts[c]);
        x += w;
    }
    const QRect a(axisWidth, 8 + (row + 1) * line, std::max(1, width() - axisWidth - 8),
                  std::max(1, height() - 8 - (row + 1) * line - fm.height() - 8));
    const double nyquist = shownRate / 2;
    // The strongest bin sets the top: the traces keep their place as the gain changes.
    double top = -HUGE_VAL;
    for (int c = 0; c < shownChannels; ++c) {
        for (float v : spectra[std::size_t(c)]->power())
            if (v > 0)
                top = std::max(top, 10 * std::log10(double(v)));
    }
    if (!std::isfinite(top))
        top = 0;
    top = std::ceil(top / 10) * 10;
    const double bottom = top - kRangeDb;
    auto xOf = [&](double hz) { return a.left() + hz / std::max(1e-9, nyquist) * (a.width() - 1); };
    auto yOf = [&](double db) {
        return a.top() + (top - std::clamp(db, bottom, top)) / kRangeDb * (a.height() - 1);
    };
    const QColor grid(0xDD, 0xDD, 0xDD);
    p.setPen(Qt::black);
    for (double db = top; db >= bottom; db -= 20) {
        p.fillRect(QRect(a.left(), int(std::lround(yOf(db))), a.width(), 1), grid);
        const QString t = tr("%1 dB").arg(db);
        p.drawText(
            QPointF(a.left() - 4 - fm.horizontalAdvance(t), yOf(db) - line / 2.0 + fm.ascent()), t);
    }
    if (nyquist > 0) {
        // Mains guides: 50 Hz's family in one tint, 60 Hz's in another, thinner past the fifth.
        const QColor at50(0xE0, 0x90, 0x90);
        const QColor at60(0x90, 0x90, 0xE0);
        for (int h = 1; h * 50 <= nyquist; ++h) {
            if (h > 20 && h % 10 != 0)
                continue;
            p.fillRect(QRectF(xOf(50.0 * h), a.top(), 1, a.height()), at50);
        }
        for (int h = 1; h * 60 <= nyquist; ++h) {
            if (h > 20 && h % 10 != 0)
                continue;
            p.fillRect(QRectF(xOf(60.0 * h), a.top(), 1, a.height()), at60);
        }
        // Frequency ticks.
        const int ticks = std::max(2, a.width() / 80);
        double step = std::pow(10.0, std::floor(std::log10(nyquist / ticks)));
        for (double m : {1.0, 2.0, 5.0, 10.0}) {
            if (nyquist / (m * step) <= ticks) {
                step *= m;
                break;
            }
        }
        p.setPen(Qt::black);
        for (double hz = 0; hz <= nyquist + 1e-9; hz += step) {
            const QString t = hz == 0 ? tr("0 Hz") : QString::number(hz);
            p.drawText(
                QPointF(xOf(hz) - fm.horizontalAdvance(t) / 2.0, a.bottom() + 2 + fm.ascent()), t);
        }
    }
    p.setRenderHint(QPainter::Antialiasing, false);
    for (int c = 0; c < shownChannels; ++c) {
        const Spectrum &s = *spectra[std::size_t(c)];
        const std::vector<float> &bins = s.power();
        if (bins.empty())
            continue;
        // One point a pixel column at most: the column's strongest bin, so no line is lost.
        QVector<QPointF> points;
        points.reserve(std::min<int>(int(bins.size()), a.width()) + 1);
        int column = -1;
        double most = -HUGE_VAL;
        for (std::size_t i = 0; i < bins.size(); ++i) {
            const double hz = double(i) * s.binHz();
            const int cx = int(xOf(hz));
            const double db = bins[i] > 0 ? 10 * std::log10(double(bins[i])) : bottom;
            if (cx != column && column >= 0) {
                points.append(QPointF(column, yOf(most)));
                most = -HUGE_VAL;
            }
            column = cx;
            most = std::max(most, db);
        }
        if (column >= 0)
            points.append(QPointF(column, yOf(most)));
        // A cosmetic pen of one pixel: wider ones cost QPainter tens of milliseconds here.
        p.setPen(QPen(PlotView::channelColor(c), 0));
        p.drawPolyline(points.constData(), points.size());
    }
    for (const QRect &edge :
         {QRect(a.left(), a.top(), a.width(), 1), QRect(a.left(), a.bottom(), a.width(), 1),
          QRect(a.left(), a.top(), 1, a.height()), QRect(a.right(), a.top(), 1, a.height())})
        p.fillRect(edge, Qt::darkGray);
}
