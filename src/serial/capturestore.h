#ifndef CAPTURESTORE_H
#define CAPTURESTORE_H

#include "serial/capturesnapshot.h"
#include "serial/spoolwriter.h"
#include "timeline/capturetimeline.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QSharedPointer>
#include <QString>
#include <QTimer>
#include <QVector>

class QThread;
class SpoolFile;

// The bytes received since the capture was last started. They go to a private file in the
// user's cache folder a few times a second, written on a thread of its own, so that a capture of
// any length costs no memory and the event loop never waits for the disk. Should the disk refuse
// them, they are kept in memory from then on. When they arrived, and what happened meanwhile, go
// beside them on the same thread.
class CaptureStore : public QObject
{
    Q_OBJECT

public:
    // Files go into folder, which is made when the first bytes arrive.
    explicit CaptureStore(const QString &folder = defaultFolder(), QObject *parent = nullptr);
    ~CaptureStore() override;

    static QString defaultFolder();
    QString folder() const { return folderPath; }

    void append(const QByteArray &bytes);
    // Empties the capture. A save still reading the old bytes keeps them until it is done.
    void clear();
    // A new capture that may not have begun: until it is confirmed, the capture seems to hold
    // only what arrives from now on, and the earlier bytes are kept aside.
    void beginStart();
    // The new capture began: the earlier bytes go.
    void confirmStart();
    // It did not: the earlier bytes are the capture's again, followed by what arrived since.
    void putBack();

    qint64 size() const { return starting ? sinceStartBytes : total; }
    // Of those, the bytes that could not be written to the disk.
    qint64 sizeInMemory() const;
    // Of those, the bytes the file is known to hold; while a start waits, of the earlier bytes
    // and those since, which the file holds both.
    qint64 sizeOnDisk() const { return onDisk; }
    bool isEmpty() const { return size() == 0; }

    // Everything received so far.
    CaptureSnapshot snapshot() const;
    // The file the capture is being written to; empty before it is made.
    QString filePath() const;
    // Whether path names the file the capture is being written to, or another capture file in
    // its folder or its lock: one that a run left behind is offered at the next start, and may
    // be removed.
    bool isOwnFile(const QString &path) const;
    // When the capture started, and the moment now on a steady clock since then.
    QDateTime startedUtc() const { return view().startUtc; }
    qint64 elapsedMicros() const
    {
        return steadyMicros() - (starting ? sinceStartMicros : startMicros);
    }
    // Places an event at the capture's end as it is now, at this moment, and returns it.
    CaptureEvent record(CaptureEvent::Type type, const QString &label = QString(), int number = 0,
                        qint64 durationMicros = 0);
    // Places an event at an offset and moment of the capture as it is now: one that began
    // earlier, like a silence that just ended.
    CaptureEvent recordAt(CaptureEvent::Type type, qint64 offset, qint64 micros,
                          const QString &label = QString(), int number = 0,
                          qint64 durationMicros = 0);
    // Gives the event with that id a label typed after it was placed; false when it is gone.
    bool relabel(qint64 id, const QString &label);
    // Whether the event with that id is in the capture, or in the one a waiting start keeps aside.
    bool holds(qint64 id) const;
    QVector<CaptureEvent> events() const { return view().events; }
    // When the bytes arrived: the capture held each point's offset at its moment. Merged: see
    // TimeRecord.
    QVector<TimePoint> times() const { return view().times.points(); }
    // All of the above at once.
    CaptureTimeline timeline() const { return view(); }

    // Hands what waits in memory to the writer now instead of at the next tick.
    void flush();

    // How long received bytes may wait in memory before they are handed to the writer.
    static constexpr int FlushIntervalMs = 200;
    // How long written bytes may wait before the writer asks the system to put them on the disk.
    static constexpr int SyncIntervalMs = SpoolWriter::SyncIntervalMs;

    // For tests and benchmarks: called on the writer's thread (SpoolWriter::Probe).
    using WriterStep = SpoolWriter::Step;
    using WriterProbe = SpoolWriter::Probe;
    void setWriterProbe(const WriterProbe &probe);
    // For benchmarks: the wait before a sync; negative, never a sync.
    void setSyncInterval(int ms);

signals:
    // The disk refused the capture: from now on it is kept in memory.
    void storageFailed(const QString &reason);
    // An event was placed, or given its label.
    void eventRecorded(const CaptureEvent &event);
    // The events were emptied or put back: read events() again.
    void eventsReset();

private:
    void written(quint64 generation, qint64 confirmedSize);
    void failed(quint64 generation, qint64 confirmedSize, const QString &reason, bool contentLost);
    void dropConfirmed(qint64 confirmedSize);
    void appendSinceStart(const QByteArray &bytes);
    void appendBytes(const QByteArray &bytes);
    // Empties the bytes and the timeline, without telling.
    void reset();
    void scheduleFlush();
    // The capture as it seems: while a start waits, what arrived since.
    const CaptureTimeline &view() const { return starting ? since : kept; }
    qint64 steadyMicros() const { return steady.nsecsElapsed() / 1000; }
    // The capture goes on in a new file.
    void startFile();

    QString folderPath;
    QThread *thread = nullptr;
    SpoolWriter *writer = nullptr;
    QSharedPointer<SpoolFile> current;
    // Bytes at the front of the capture that the writer has confirmed are in the file.
    qint64 onDisk = 0;
    // Handed to the writer but not yet confirmed; after a failure, kept here for good.
    QList<QByteArray> unconfirmed;
    // Not yet handed to the writer.
    QByteArray pending;
    qint64 total = 0;
    bool diskFailed = false;
    QTimer flushTimer;
    // While a start waits for confirmation, what arrived since: a few seconds of the line.
    bool starting = false;
    QList<QByteArray> sinceStart;
    qint64 sinceStartBytes = 0;
    // The timeline of all the bytes above, which the file's companions keep; offsets count from
    // the first byte, moments from startMicros.
    CaptureTimeline kept;
    // While a start waits: that of what arrived since, counted from sinceStartMicros.
    CaptureTimeline since;
    QElapsedTimer steady;
    qint64 startMicros = 0;
    qint64 sinceStartMicros = 0;
    // How many settled points of kept, and which events, the writer has not been handed yet.
    int settledHanded = 0;
    QVector<CaptureEvent> unhanded;
    qint64 nextEventId = 1;
};

#endif // CAPTURESTORE_H
