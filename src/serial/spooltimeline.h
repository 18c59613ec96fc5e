#ifndef SPOOLTIMELINE_H
#define SPOOLTIMELINE_H

#include "timeline/capturetimeline.h"

#include <QCoreApplication>
#include <QFile>
#include <QString>

// The time record and the events of a capture, kept in two files beside its file in the cache
// folder, so that they come back with it after a crash. Written by the capture's writer.
class SpoolTimeline
{
    Q_DECLARE_TR_FUNCTIONS(SpoolTimeline)

public:
    // What the capture's timeline gained since the last write.
    struct Delta
    {
        QDateTime startUtc;
        // Points that stay, following those handed over before.
        QVector<TimePoint> settled;
        bool hasTail = false;
        // The latest point, which the next write may replace.
        TimePoint tail;
        // New, or with a new label.
        QVector<CaptureEvent> events;

        bool isEmpty() const { return settled.isEmpty() && !hasTail && events.isEmpty(); }
    };

    // Starts the companions of the capture file at capturePath. False with the reason.
    bool open(const QString &capturePath, QString *reason);
    bool isOpen() const { return times.isOpen(); }
    bool write(const Delta &delta, QString *reason);
    bool sync(QString *reason);
    void close();

    // What the companions of the capture file at capturePath hold, for its first size bytes;
    // what a crash cut short is left out.
    static CaptureTimeline load(const QString &capturePath, qint64 size);

private:
    QFile times;
    QFile events;
    bool started = false;
    qint64 settledWritten = 0;
};

#endif // SPOOLTIMELINE_H
