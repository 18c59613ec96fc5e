#ifndef LEFTOVERS_H
#define LEFTOVERS_H

#include <QDateTime>
#include <QList>
#include <QString>

#include <memory>

class QLockFile;

// A capture file that a run left behind when it ended without quitting. While this is held, its
// lock is ours: no other run offers or touches it.
struct LeftoverCapture
{
    QString path;
    qint64 size = 0;
    QDateTime lastWritten;
    // Empty when it can be read; else the system's reason why not.
    QString unreadable;
    std::shared_ptr<QLockFile> lock;
};

namespace Leftovers {

// The captures in folder whose program is gone. Empty ones are removed on the way; files that
// are not the user's, or in a folder that is not the user's alone, are left as they are: then
// *refused, when given, says why the folder is not looked into.
QList<LeftoverCapture> find(const QString &folder, QString *refused = nullptr);

// Whether path names a file of the capture folder that the program may remove: a capture file,
// a leftover, or the lock, time record or events of one. Saving onto it would lose the saved
// capture.
bool isCaptureFile(const QString &folder, const QString &path);

// Removes the file, its time record and events, and then its lock. False, saying why, when the
// file stays.
bool remove(LeftoverCapture *leftover, QString *reason);

} // namespace Leftovers

#endif // LEFTOVERS_H
