#ifndef PLOTVIEW_H
#define PLOTVIEW_H

#include <QImage>
#include <QTimer>
#include <QVector>
#include <QWidget>

#include <cstdint>

class PlotModel;

// Draws the model's channels over the chosen time window, newest at the right, at most 25 times
// a second and only while shown; each pixel column spans the minimum to the maximum it covers.
class PlotView : public QWidget
{
    Q_OBJECT

public:
    explicit PlotView(const PlotModel *model, QWidget *parent = nullptr);

    static QColor channelColor(int channel);
    // "1,000 samples/s", to three significant digits.
    static QString rateText(double samplesPerSecond);

    void setWindowSeconds(double seconds);
    double windowSeconds() const { return window; }
    void setPaused(bool paused);
    bool isPaused() const { return paused; }
    // lo < hi fixes the y range; otherwise it follows what is visible.
    void setFixedRange(double lo, double hi);
    void setAutoRange();
    bool isAutoRange() const { return autoRange; }
    // The y range of the last frame.
    double rangeLow() const { return shownLo; }
    double rangeHigh() const { return shownHi; }

    // New samples arrived; the next frame shows them.
    void dataChanged();
    // Everything went; a pause ends with it.
    void cleared();

    // How many samples the last frame took in, counted since the last clear.
    std::int64_t paintedSamples() const { return paintedEnd; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void framePainted(std::int64_t samples);

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void frameTick();
    // Places the legend's entries over the plot's width, in rows as needed; returns its height.
    int layOutLegend(const QFontMetrics &fm, int left, int width);
    void drawLegend(QPainter &p, const QRect &area);

    const PlotModel *model;
    QTimer frameTimer;
    double window = 5;
    bool paused = false;
    bool autoRange = true;
    double fixedLo = 0;
    double fixedHi = 1;
    double shownLo = 0;
    double shownHi = 1;
    bool dirty = true;
    int idleFrames = 0;
    std::int64_t frozenEnd = 0;
    double frozenRate = 0;
    double frozenShownRate = 0;
    double frozenLatest[8] = {};
    std::int64_t paintedEnd = 0;
    // Reused from frame to frame: columns times channels.
    QVector<float> lo;
    QVector<float> hi;
    QImage canvas;
    struct LegendEntry
    {
        QString name;
        QString value;
        QPoint at;
    };
    QVector<LegendEntry> legendEntries;
    QString legendStatus;
};

#endif // PLOTVIEW_H
