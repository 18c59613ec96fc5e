#include "serial/leftovers.h"

#include "serial/privatefile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QRegularExpression>
#include <QSysInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_UNIX
// Whether a live program holds an exclusive flock on the file: a capture's writer does on its
// file, and QLockFile on its lock file. Outlives a lock file removed from outside, and tells a
// live program from a dead one that had the same PID in another PID namespace.
bool heldByLiveProgram(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return false;
    const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    // Closing lets go of ours, when we got it.
    ::close(fd);
    return held;
}
#endif

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
        && (host.isEmpty() || host == QSysInfo::machineHostName()) && !heldByLiveProgram(lockPath);
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
    static const QRegularExpression ours(QStringLiteral("^capture-[0-9]+-[0-9]+\\.txt$"));
    const QFileInfoList entries = QDir(folder).entryInfoList(
        {QStringLiteral("capture-*.txt")}, QDir::Files | QDir::Hidden | QDir::NoSymLinks,
        QDir::Time | QDir::Reversed);
    for (const QFileInfo &entry : entries) {
        if (!ours.match(entry.fileName()).hasMatch() || !entry.isFile()
            || !PrivateFile::isUsers(entry))
            continue;
        LeftoverCapture leftover;
        leftover.path = entry.filePath();
        leftover.lock = std::make_shared<QLockFile>(leftover.path + QStringLiteral(".lock"));
        // Age says nothing: a capture may run for hours. Only a gone program frees the lock.
        leftover.lock->setStaleLockTime(0);
#ifdef Q_OS_UNIX
        // A live capture whose lock file was removed from outside.
        if (heldByLiveProgram(leftover.path))
            continue;
#endif
        if (!takeLock(leftover.lock.get(), leftover.path + QStringLiteral(".lock")))
            continue;
        QFile::setPermissions(leftover.path + QStringLiteral(".lock"),
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
        && resolved.fileName().startsWith(QLatin1String("capture-"), names);
}

bool remove(LeftoverCapture *leftover, QString *reason)
{
    QFile file(leftover->path);
    if (!file.remove()) {
        *reason = file.errorString();
        return false;
    }
    leftover->lock.reset();
    return true;
}

} // namespace Leftovers
