#ifndef SPOOLWRITER_H
#define SPOOLWRITER_H

#include "serial/spooltimeline.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QSharedPointer>
#include <QString>

#include <functional>

class QTimer;
class SpoolFile;

// Appends the blocks it is handed to the capture's file, and the timeline to its companions, on a
// thread of its own, asks the system now and then to put them on the disk, and reports how far
// the file is known to go.
class SpoolWriter : public QObject
{
    Q_OBJECT

public:
    // How long written bytes may wait before the writer asks the system to put them on the disk.
    static constexpr int SyncIntervalMs = 700;

    // For tests and benchmarks: called as each block is about to be written (the file made and
    // checked), and before and after each sync, with the bytes the file held then. It may block,
    // to hold the writer.
    enum class Step { Writing, Syncing, Synced };
    using Probe = std::function<void(Step, qint64)>;

    // The clock gives milliseconds of a steady clock; by default, since construction.
    explicit SpoolWriter(std::function<qint64()> clock = {});

    // From now on blocks belong to file; the previous file is closed and let go.
    void use(const QSharedPointer<SpoolFile> &next);
    // The block goes to the capture's file, the timeline's gain to its companions.
    void write(const QSharedPointer<SpoolFile> &target, const QByteArray &block,
               const SpoolTimeline::Delta &timeline = {});
    // Syncs the file if a sync is due by the clock; the writer's timer calls it in time.
    void syncIfDue();
    // Before the thread ends: its timer can be stopped only here.
    void stop();
    // The wait before a sync; negative, never a sync.
    void setSyncInterval(int ms);
    void setProbe(const Probe &probe) { this->probe = probe; }

signals:
    // The file holds the capture's first confirmedSize bytes.
    void written(quint64 generation, qint64 confirmedSize);
    // The file took no more than that; contentLost when what it held is not the capture's any
    // more.
    void failed(quint64 generation, qint64 confirmedSize, const QString &reason, bool contentLost);

private:
    void sync();
    // False when someone else cut, wrote or replaced the file since our last write.
    bool unchanged(QString *reason, bool *contentLost);
    void fail(qint64 confirmedSize, const QString &reason, bool contentLost = false);
    QString named(const QString &text) const;

    std::function<qint64()> now;
    QElapsedTimer elapsed;
    Probe probe;
    int syncInterval = SyncIntervalMs;
    QSharedPointer<SpoolFile> file;
    // Declared after file, so that it is closed before the file may be removed.
    QFile out;
    QString outPath;
    SpoolTimeline companions;
    // The companions failed: the timeline is still kept in memory and saved with the capture,
    // only a crash would lose it.
    bool companionsBroken = false;
    // What our last write left the file holding.
    qint64 writtenSize = 0;
    bool broken = false;
    // When the next sync is due (-1: none). Set by a write when none is due, never pushed back:
    // data that streams in is synced at most this long after it was written, and a slow sync
    // only delays the next.
    qint64 syncDueMs = -1;
    QTimer *syncTimer;
};

#endif // SPOOLWRITER_H
