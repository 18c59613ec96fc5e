#ifndef EXPORTPLAN_H
#define EXPORTPLAN_H

#include "export/samplereader.h"
#include "plot/channelmap.h"
#include "serial/capturesnapshot.h"
#include "timeline/captureevent.h"
#include "timeline/timepoint.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVector>

#include <atomic>
#include <cstdint>

// What an export needs to know before it writes its first sample, from a first reading of the
// capture: the channels and their values' range, the samples and the steady rate they came at.
struct ExportPlan
{
    Q_DECLARE_TR_FUNCTIONS(ExportPlan)

public:
    // What the export reads, copied when it begins: the capture goes on meanwhile.
    struct Input
    {
        CaptureSnapshot capture;
        QVector<TimePoint> times;
        QVector<CaptureEvent> events;
        QDateTime startedUtc;
    };

    struct Channel
    {
        QString name;
        std::int64_t count = 0;
        std::int64_t first = -1; // the first sample with a value
        std::int64_t last = -1;
        // Runs of samples without a value, from the first sample on.
        std::int64_t gaps = 0;
        double min = 0;
        double max = 0;
        bool integers = true;
    };

    // Reads the capture once. A nominal rate above 0 is taken instead of the measured one.
    // False with *reason when the capture cannot be read, holds no sample, or gives no rate.
    bool survey(const Input &input, double nominalRate, std::atomic<std::int64_t> *bytesRead,
                const std::atomic<bool> *cancelled, QString *reason);

    // The text of an event in a file: a marker's number or label, an event's type and label.
    static QString eventText(const CaptureEvent &event);
    // Where a lost device cut a line: the line is not joined to what came after the return.
    static QVector<std::int64_t> cuts(const QVector<CaptureEvent> &events);

    // A run of samples at a steady pace. The pace restarts wherever the capture recorded a pause
    // (a silence, a stop or start, a lost device or its return): one line through all the
    // samples would place every one of them wrongly.
    struct Segment
    {
        std::int64_t firstSample = 0;
        // Its samples are at origin + index * period since the capture's start.
        double origin = 0;
        // Samples of a steady grid before its first one that no sample fills: what a file that
        // holds only a steady grid fills in for the pauses before it.
        std::int64_t shift = 0;
    };
    // The segment of a sample, for samples asked in order from the segment *at on.
    const Segment &segmentOf(std::int64_t sample, int *at) const;
    // The samples of a steady grid from the first sample to the last, pauses filled in.
    std::int64_t gridLength() const { return samples + segments.last().shift; }

    QVector<Channel> channels;
    std::int64_t samples = 0;
    int events = 0;
    std::int64_t skippedLines = 0;
    // The first sample is at firstSeconds since the capture's start; one segment at least.
    double period = 0;
    double firstSeconds = 0;
    QVector<Segment> segments;
    bool measured = false;
    // The survey was cancelled.
    bool stopped = false;
};

#endif // EXPORTPLAN_H
