#include "serial/leftovers.h"

#include "serial/privatefile.h"
#include "serial/spoolfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>

namespace Leftovers {

QList<LeftoverCapture> find(const QString &folder)
{
    QList<LeftoverCapture> found;
    QString notPrivate;
    // Nothing left, nothing done: start-up stays as it was.
    if (!QFileInfo::exists(folder) || !PrivateFile::checkFolder(folder, &notPrivate))
        return found;
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
        if (!leftover.lock->tryLock(0))
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
