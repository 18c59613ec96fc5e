#include "serial/leftovers.h"

#include "serial/privatefile.h"
#include "serial/spoolfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSysInfo>

namespace {

// QLockFile counts a lock that names our own PID on this host as a live one's. Under Flatpak or
// in a container a crashed run and its restart may share a PID: such a lock is stale unless a
// live program, this one included, holds it.
bool isStaleOwnLock(const QLockFile &lock, const QString &lockPath)
{
#ifdef Q_OS_UNIX
    qint64 pid = 0;
    QString host;
    QString app;
    return lock.getLockInfo(&pid, &host, &app) && pid == QCoreApplication::applicationPid()
        && (host.isEmpty() || host == QSysInfo::machineHostName())
        && !PrivateFile::heldByAnother(lockPath);
#else
    // Windows has no PID namespaces, and no flock to tell a live holder.
    Q_UNUSED(lock)
    Q_UNUSED(lockPath)
    return false;
#endif
}

// Takes the lock of a capture whose program is gone; false when a live one holds it.
bool takeLock(QLockFile *lock, const QString &lockPath)
{
    if (lock->tryLock(0))
        return true;
    return lock->error() == QLockFile::LockFailedError && isStaleOwnLock(*lock, lockPath)
        && lock->removeStaleLockFile() && lock->tryLock(0);
}

} // namespace

namespace Leftovers {

QList<LeftoverCapture> find(const QString &folder, QString *refused)
{
    QList<LeftoverCapture> found;
    QString notPrivate;
    // Nothing left, nothing done: start-up stays as it was.
    if (!QFileInfo::exists(folder))
        return found;
    if (!PrivateFile::checkFolder(folder, &notPrivate)) {
        if (refused)
            *refused = notPrivate;
        return found;
    }
    const QFileInfoList entries = QDir(folder).entryInfoList(
        {SpoolFile::nameFilter()}, QDir::Files | QDir::Hidden | QDir::NoSymLinks,
        QDir::Time | QDir::Reversed);
    for (const QFileInfo &entry : entries) {
        if (!SpoolFile::isCaptureName(entry.fileName()) || !entry.isFile()
            || !PrivateFile::isUsers(entry))
            continue;
        LeftoverCapture leftover;
        leftover.path = entry.filePath();
        leftover.lock = std::make_shared<QLockFile>(SpoolFile::lockPath(leftover.path));
        // Age says nothing: a capture may run for hours. Only a gone program frees the lock.
        leftover.lock->setStaleLockTime(0);
        // A live capture whose lock file was removed from outside.
        if (PrivateFile::heldByAnother(leftover.path))
            continue;
        if (!takeLock(leftover.lock.get(), SpoolFile::lockPath(leftover.path)))
            continue;
        QFile::setPermissions(SpoolFile::lockPath(leftover.path),
                              QFile::ReadOwner | QFile::WriteOwner);
        const QFileInfo now(leftover.path);
        leftover.size = now.size();
        leftover.lastWritten = now.lastModified();
        if (leftover.size == 0) {
            QString ignored;
            remove(&leftover, &ignored);
            continue;
        }
        QFile file(leftover.path);
        if (!file.open(QIODevice::ReadOnly))
            leftover.unreadable = file.errorString();
        found.append(leftover);
    }
    return found;
}

bool isCaptureFile(const QString &folder, const QString &path)
{
    const QString home = QFileInfo(folder).canonicalFilePath();
    if (home.isEmpty())
        return false;
    // Where it leads: a link to a capture file is one too, also when that file is gone, as a
    // save through it would make one.
    QFileInfo resolved(path);
    for (int hops = 0; resolved.isSymLink() && hops < 40; ++hops)
        resolved = QFileInfo(resolved.symLinkTarget());
#ifdef Q_OS_WIN
    const Qt::CaseSensitivity names = Qt::CaseInsensitive;
#else
    const Qt::CaseSensitivity names = Qt::CaseSensitive;
#endif
    return QFileInfo(resolved.absolutePath()).canonicalFilePath().compare(home, names) == 0
        && SpoolFile::isOfCaptureKind(resolved.fileName(), names);
}

bool remove(LeftoverCapture *leftover, QString *reason)
{
    // A leftover may be gigabytes: freeing its blocks is left to a worker thread. Its time
    // record and events go with it.
    if (!SpoolFile::remove(leftover->path, reason))
        return false;
    leftover->lock.reset();
    return true;
}

} // namespace Leftovers
