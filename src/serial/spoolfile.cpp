#include "serial/spoolfile.h"

#include <QAtomicInt>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QThreadPool>

namespace {

const QLatin1String Prefix("capture-");
const QLatin1String Suffix(".txt");
const QLatin1String LockSuffix(".lock");
const QLatin1String TimesSuffix(".times");
const QLatin1String EventsSuffix(".events");

QMutex probeMutex;

// After the capture file: companions without it are offered by nobody, a capture without them
// still is.
void removeCompanions(const QString &path)
{
    QFile::remove(SpoolFile::timesPath(path));
    QFile::remove(SpoolFile::eventsPath(path));
}
std::function<void(const QString &)> removalProbe;

} // namespace

bool SpoolFile::isCaptureName(const QString &fileName)
{
    static const QRegularExpression ours(QStringLiteral("^capture-[0-9]+-[0-9]+\\.txt$"));
    return ours.match(fileName).hasMatch();
}

bool SpoolFile::looksLikeCapture(const QString &fileName)
{
    return fileName.startsWith(Prefix) && fileName.endsWith(Suffix);
}

bool SpoolFile::isOfCaptureKind(const QString &fileName, Qt::CaseSensitivity names)
{
    return fileName.startsWith(Prefix, names);
}

QString SpoolFile::nameFilter()
{
    return Prefix + QLatin1Char('*') + Suffix;
}

QString SpoolFile::lockPath(const QString &path)
{
    return path + LockSuffix;
}

QString SpoolFile::timesPath(const QString &path)
{
    return path + TimesSuffix;
}

QString SpoolFile::eventsPath(const QString &path)
{
    return path + EventsSuffix;
}

QString SpoolFile::capturePathOf(const QString &path)
{
    for (const QLatin1String &suffix : {LockSuffix, TimesSuffix, EventsSuffix}) {
        if (path.endsWith(suffix))
            return path.chopped(suffix.size());
    }
    return path;
}

QSharedPointer<SpoolFile> SpoolFile::create(const QString &folder, quint64 generation)
{
    return QSharedPointer<SpoolFile>(new SpoolFile(folder, generation, true), &SpoolFile::dispose);
}

QSharedPointer<SpoolFile> SpoolFile::leftover(const QString &path)
{
    QSharedPointer<SpoolFile> file(new SpoolFile(QFileInfo(path).path(), 0, false),
                                   &SpoolFile::dispose);
    file->open(path, {});
    return file;
}

bool SpoolFile::remove(const QString &path, QString *reason)
{
    // Held open across the removal, the file keeps its blocks until the handle closes, and that
    // happens on the pool.
    const int held = PrivateFile::openToHold(path);
    QFile file(path);
    const bool removed = file.remove();
    if (!removed)
        *reason = file.errorString();
    else
        removeCompanions(path);
    QThreadPool *const pool
        = QCoreApplication::instance() ? QThreadPool::globalInstance() : nullptr;
    if (pool)
        pool->start([held] { PrivateFile::closeHeld(held); });
    else
        PrivateFile::closeHeld(held);
    return removed;
}

SpoolFile::SpoolFile(const QString &folder, quint64 generation, bool owned)
    : folder(folder)
    , generation(generation)
    , owned(owned)
{ }

void SpoolFile::dispose(SpoolFile *file)
{
    // Unlinking a file of gigabytes, or closing the last handle of one already unlinked, can
    // take a tenth of a second: far longer than the event loop may wait. The application
    // waits for the global pool before it ends.
    QThreadPool *const pool
        = QCoreApplication::instance() ? QThreadPool::globalInstance() : nullptr;
    if (pool)
        pool->start([file] { delete file; });
    else
        delete file;
}

SpoolFile::~SpoolFile()
{
    const QString name = path();
    if (owned && !name.isEmpty()) {
        {
            const QMutexLocker locker(&probeMutex);
            if (removalProbe)
                removalProbe(name);
        }
        QFile::remove(name);
        removeCompanions(name);
    }
    // After the name is gone: with no handle left, the system frees the file's blocks here.
    reader.close();
    // After the file: a file without its lock would be offered as a leftover.
    lock.reset();
}

void SpoolFile::setRemovalProbe(const std::function<void(const QString &)> &probe)
{
    const QMutexLocker locker(&probeMutex);
    removalProbe = probe;
}

bool SpoolFile::make(QFile *out, QString *reason)
{
    if (!PrivateFile::makeFolder(folder, reason) || !PrivateFile::checkFolder(folder, reason))
        return false;
    // Only the user may look into the folder.
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    static QAtomicInt counter;
    // Joined, not arg(): a folder name may hold "%1".
    const QString stem = folder + QLatin1Char('/') + Prefix
        + QString::number(QCoreApplication::applicationPid()) + QLatin1Char('-');
    for (;;) {
        const QString path = stem + QString::number(counter.fetchAndAddRelaxed(1) + 1) + Suffix;
        // The lock first: a file without a lock that holds would be a leftover to another run.
        auto heldLock = std::make_unique<QLockFile>(lockPath(path));
        heldLock->setStaleLockTime(0);
        if (!heldLock->tryLock(0)) {
            if (heldLock->error() == QLockFile::LockFailedError)
                continue;
            *reason = QDir::toNativeSeparators(lockPath(path)) + QStringLiteral(": ")
                + tr("could not be made");
            return false;
        }
        QFile::setPermissions(lockPath(path), QFile::ReadOwner | QFile::WriteOwner);
        bool exists = false;
        QString why;
        // Never over a file that another run left behind: it may be a capture to rescue.
        if (PrivateFile::create(out, path, &exists, &why)) {
            {
                const QMutexLocker writing(&writeMutex);
                written = PrivateFile::stamp(*out);
            }
            open(path, std::move(heldLock));
            return true;
        }
        if (!exists) {
            *reason = QDir::toNativeSeparators(path) + QStringLiteral(": ") + why;
            return false;
        }
    }
}

void SpoolFile::open(const QString &path, std::unique_ptr<QLockFile> heldLock)
{
    {
        const QMutexLocker locker(&mutex);
        name = path;
    }
    lock = std::move(heldLock);
    // Opened at once: a capture whose file a cache cleaner removes can still be saved.
    const QMutexLocker locker(&readMutex);
    reader.setFileName(path);
    reader.open(QIODevice::ReadOnly);
}

QString SpoolFile::path() const
{
    const QMutexLocker locker(&mutex);
    return name;
}

void SpoolFile::forgetPath()
{
    const QMutexLocker locker(&mutex);
    name.clear();
}

bool SpoolFile::isAsWritten(const QFile &handle, qint64 grownBy, FileStamp *now) const
{
    const FileStamp found = PrivateFile::stamp(handle);
    if (now)
        *now = found;
    // Our own write moves the time on; only the size tells whether it went where it should.
    return found.isSameFile(written) && found.size == written.size + grownBy
        && (grownBy != 0 || found.modifiedNs == written.modifiedNs);
}

bool SpoolFile::isAtItsName() const
{
    // Removed is fine: the handles still reach it.
    const FileStamp atPath = PrivateFile::stampAt(path());
    return !atPath.isValid() || atPath.isSameFile(written);
}

void SpoolFile::recordWrite(const FileStamp &stamp)
{
    written = stamp;
}
