#ifndef CAPTURESNAPSHOT_H
#define CAPTURESNAPSHOT_H

#include "timeline/capturetimeline.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QList>
#include <QSharedPointer>
#include <QString>

#include <functional>

class SpoolFile;

// What a capture held at one moment: its first bytes in the capture's file, the rest in memory,
// and its timeline. Cheap to copy; any thread may read it, while the capture goes on.
class CaptureSnapshot
{
    Q_DECLARE_TR_FUNCTIONS(CaptureSnapshot)

public:
    CaptureSnapshot() = default;
    explicit CaptureSnapshot(const QList<QByteArray> &blocks);
    // The first fileBytes of file, followed by the blocks in memory.
    CaptureSnapshot(const QSharedPointer<SpoolFile> &file, qint64 fileBytes,
                    const QList<QByteArray> &blocks);

    qint64 size() const { return fileBytes + memoryBytes; }

    // Hands the bytes to sink in order, in blocks of at most 1 MiB, until sink returns false.
    // False when the capture's file could not be read, with *reason set.
    bool read(const std::function<bool(const QByteArray &)> &sink, QString *reason) const;

    // A capture file that an earlier run left behind; the file stays when the snapshot goes.
    static CaptureSnapshot ofLeftover(const QString &path, qint64 size);

    // When its bytes arrived and what happened meanwhile; a leftover's is read from the files
    // beside it, so call this off the event loop.
    CaptureTimeline timeline() const;
    void setTimeline(const CaptureTimeline &timeline) { kept = timeline; }

    // All the bytes at once; for small captures.
    QByteArray readAll() const;

private:
    QSharedPointer<SpoolFile> file;
    qint64 fileBytes = 0;
    QList<QByteArray> memory;
    qint64 memoryBytes = 0;
    CaptureTimeline kept;
    // Of a leftover, whose timeline is read when asked for.
    QString leftoverPath;
};

#endif // CAPTURESNAPSHOT_H
