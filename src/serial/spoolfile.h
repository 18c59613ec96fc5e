#ifndef SPOOLFILE_H
#define SPOOLFILE_H

#include "serial/privatefile.h"

#include <QCoreApplication>
#include <QFile>
#include <QMutex>
#include <QSharedPointer>
#include <QString>

#include <functional>
#include <memory>

class QLockFile;

// One capture's file in the cache folder, its lock, and the stamp its writer's last write left.
// Whoever lets go of it last, the store, its writer or a save still reading it, has both removed
// on a worker thread.
class SpoolFile
{
    Q_DECLARE_TR_FUNCTIONS(SpoolFile)

public:
    // Capture files are named capture-PID-N.txt, for the program's process and the Nth file it
    // made; each has its lock beside it, the same name with ".lock" added, and its time record
    // and events, with ".times" and ".events".
    static bool isCaptureName(const QString &fileName);
    // Whether a file's name is of the capture folder's kind: capture-*, any of those above.
    static bool isOfCaptureKind(const QString &fileName, Qt::CaseSensitivity names);
    // Whether a file's name is of the capture files' kind: capture-*.txt.
    static bool looksLikeCapture(const QString &fileName);
    // The listing filter for those.
    static QString nameFilter();
    static QString lockPath(const QString &path);
    static QString timesPath(const QString &path);
    static QString eventsPath(const QString &path);
    // The capture file's name for any of its own files' names.
    static QString capturePathOf(const QString &path);
    // Removes the capture file at path at once, leaving the system's freeing of its blocks,
    // which can take a tenth of a second for gigabytes, to a worker thread, and then its time
    // record and events. False, saying why, when the file stays.
    static bool remove(const QString &path, QString *reason);

    // A capture's file in folder, made when its first bytes are written.
    static QSharedPointer<SpoolFile> create(const QString &folder, quint64 generation);
    // A capture file that an earlier run left behind: it stays when this goes.
    static QSharedPointer<SpoolFile> leftover(const QString &path);
    ~SpoolFile();
    // For tests: called with the file's path on the thread that removes it, just before.
    static void setRemovalProbe(const std::function<void(const QString &)> &probe);
    SpoolFile(const SpoolFile &) = delete;
    SpoolFile &operator=(const SpoolFile &) = delete;

    // Makes the folder and a new capture file in it, with its lock, and opens it into out for
    // appending. False with the reason for the user.
    bool make(QFile *out, QString *reason);
    QString path() const;
    // Another file took this one's name: it is not ours to remove.
    void forgetPath();

    // Whether the file that handle reaches is as the writer left it: the same file, of the size
    // recorded, grown by grownBy, and, when nothing was written since, of the same modification
    // time. now receives what the system said.
    bool isAsWritten(const QFile &handle, qint64 grownBy = 0, FileStamp *now = nullptr) const;
    // Whether this run wrote the file; a leftover's stamp is not known.
    bool isWritten() const { return written.isValid(); }
    // Whether path still names the file written to, or nothing at all.
    bool isAtItsName() const;
    // What the writer's latest write left. Call with writeMutex held.
    void recordWrite(const FileStamp &stamp);

    const QString folder;
    // Tells a late report about an earlier capture's file from one about this one.
    const quint64 generation;
    // One reader at a time: saves run one after another anyway.
    QMutex readMutex;
    QFile reader;
    // Held across each write and its record: a save reads the file only if nobody else wrote
    // it since.
    QMutex writeMutex;

private:
    SpoolFile(const QString &folder, quint64 generation, bool owned);
    static void dispose(SpoolFile *file);
    void open(const QString &path, std::unique_ptr<QLockFile> heldLock);

    const bool owned;
    mutable QMutex mutex;
    QString name;
    std::unique_ptr<QLockFile> lock;
    FileStamp written;
};

#endif // SPOOLFILE_H
