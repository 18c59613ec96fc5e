#ifndef PLOTVIEW_H
#define PLOTVIEW_H

#include "plot/plotmodel.h"

#include <QImage>
#include <QStringList>
#include <QTimer>
#include <QVector>
#include <QWidget>

#include <cstdint>

class ViewProcessor;
class PlotMarkers;

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

    // Drawn over the traces; the view only reads them.
    void setMarkers(const PlotMarkers *marks) { markers = marks; }
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

    // The samples of the paused view at its size and time window left the history since.
    bool pausedSamplesGone() const { return paused && samplesGone; }
    // Where the last frame drew its traces; its outer rows and columns are the border.
    QRect plotArea() const { return shownArea; }
    // The last frame drew values beyond the fixed range at its edge.
    bool beyondRange() const { return beyond; }

    // What shows instead of the raw samples, and where they clip; not owned. Null: raw only.
    void setProcessor(ViewProcessor *processor);
    // The legend's texts of the last frame: an entry a channel, then the status.
    QStringList legendTexts() const;

    // New samples arrived; the next frame shows them.
    void dataChanged();
    // Everything went; a pause ends with it.
    void cleared();

    // How many samples the last frame took in, counted since the last clear.
    std::int64_t paintedSamples() const { return frame.end; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void framePainted(std::int64_t samples);

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    // Where a frame draws: samples [first, first + span) across the columns, yLo..yHi up the rows.
    struct Geometry
    {
        QRect area;
        int columns = 1;
        double first = 0;
        double span = 1;
        double yLo = 0;
        double yHi = 1;
        double xOf(double sample) const;
        double yOf(double value) const;
    };

    void frameTick();
    Geometry layOut(const QFontMetrics &fm) const;
    // Takes the frame's samples out of the history: min/max columns, or raw ones when few.
    void takeSamples(const Geometry &g);
    void fitRange(Geometry &g) const;
    void drawGrid(QPainter &p, const Geometry &g) const;
    void drawTraces(QPainter &p, const Geometry &g);
    void drawBorder(QPainter &p, const QRect &area) const;
    // Places the legend's entries over the plot's width, in rows as needed; returns its height.
    int layOutLegend(const QFontMetrics &fm, int left, int width);
    void drawLegend(QPainter &p, const QRect &area);
    bool rawMode(const Geometry &g) const { return g.span / g.columns < 2; }

    const PlotModel *model;
    ViewProcessor *processor = nullptr;
    const PlotMarkers *markers = nullptr;
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
    // The last frame's, or while paused the one taken at the pause.
    PlotModel::Frame frame;
    // Reused from frame to frame, channel after channel: min/max columns, or raw samples from
    // rawFirst on (NaN where a channel had none).
    struct Taken
    {
        int columns = 0;
        double first = 0;
        double span = 0;
        int channels = 0;
        bool operator==(const Taken &o) const
        {
            return columns == o.columns && first == o.first && span == o.span
                && channels == o.channels;
        }
    };
    Taken taken;
    bool samplesGone = false;
    QVector<float> lo;
    QVector<float> hi;
    QVector<float> raw;
    std::int64_t rawFirst = 0;
    int rawCount = 0;
    double dataLo = 0;
    double dataHi = 0;
    bool beyond = false;
    QRect shownArea;
    QImage canvas;
    struct LegendEntry
    {
        QString name;
        QString value;
        QString note; // clipping
        QPoint at;
    };
    QVector<LegendEntry> legendEntries;
    QString legendStatus;
    bool legendWarns = false;
};

#endif // PLOTVIEW_H
