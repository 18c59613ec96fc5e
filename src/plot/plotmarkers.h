#ifndef PLOTMARKERS_H
#define PLOTMARKERS_H

#include "timeline/captureevent.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <cstdint>
#include <deque>
#include <functional>

class PlotModel;

// The capture's markers, and the moments its device was lost and came back, placed at the plot's
// samples: each event has the capture's byte offset, and the plot reads the same bytes in order.
class PlotMarkers
{
public:
    struct Mark
    {
        qint64 id = 0;
        CaptureEvent::Type type = CaptureEvent::Type::Marker;
        int number = 0;
        QString label;
        // The sample of the line that was arriving when it happened.
        std::int64_t sample = 0;
    };

    // Only these are drawn: the user's markers and the gaps in the stream.
    static bool drawn(CaptureEvent::Type type);
    // What the plot writes beside the line: the label, else the number, else the type.
    static QString text(const Mark &mark);

    // The capture's size now. The plot is fed the capture's bytes right after the capture took
    // them, so the newest bytes of both are the same ones.
    void setCaptureSize(std::function<qint64()> size) { captureSize = std::move(size); }

    // Reads a delivery into the model, in pieces where events wait for their bytes.
    void feed(PlotModel &model, const QByteArray &data);
    // A new event is placed, at once if the plot has read its bytes; a known one takes its label.
    void add(const CaptureEvent &event, const PlotModel &model);
    // The capture's events were emptied or put back: those still there keep their places.
    void reset(const QVector<CaptureEvent> &events);
    // The plot was emptied: its marks go with its samples.
    void clear();

    // In the order of their samples.
    const std::deque<Mark> &marks() const { return placed; }
    // Events whose bytes the plot has not read yet.
    int waitingCount() const { return int(waiting.size()); }

private:
    // What the plot had read at the end of a delivery.
    struct Checkpoint
    {
        std::int64_t bytes;
        std::int64_t sample; // arriving there
    };
    static std::int64_t arrivingSample(const PlotModel &model);
    // The sample arriving when the plot had read that many bytes, for bytes already read; -1 when
    // too long ago to say.
    std::int64_t sampleAt(std::int64_t bytes, const PlotModel &model) const;
    void place(const CaptureEvent &event, std::int64_t sample);
    void dropOlderThan(std::int64_t sample);

    std::function<qint64()> captureSize;
    std::deque<Mark> placed;
    std::deque<CaptureEvent> waiting;
    // Since the last delivery, a capture offset plus this is a byte of the plot; false once the
    // capture or the plot started anew, until the next delivery shows how they line up again.
    bool lined = false;
    std::int64_t offsetToBytes = 0;
    qint64 captureSizeThen = 0;
    std::deque<Checkpoint> checkpoints{Checkpoint{0, 0}};
};

#endif // PLOTMARKERS_H
