#ifndef PRIVATEFILE_H
#define PRIVATEFILE_H

#include <QString>

class QFile;
class QFileInfo;

// What the system says of a file: enough to tell whether someone else wrote into it, cut it
// short or put another file in its place.
struct FileStamp
{
    // -1: the system could not tell.
    qint64 size = -1;
    qint64 modifiedNs = 0;
    // The file's identity: its volume and its number there.
    quint64 volume = 0;
    quint64 node = 0;

    bool isValid() const { return size >= 0; }
    bool isSameFile(const FileStamp &other) const
    {
        return isValid() && other.isValid() && volume == other.volume && node == other.node;
    }
    bool operator==(const FileStamp &other) const
    {
        return isSameFile(other) && size == other.size && modifiedNs == other.modifiedNs;
    }
    bool operator!=(const FileStamp &other) const { return !(*this == other); }
};

// Folders and files that only the user may reach from the moment they exist, whatever the
// umask, and asking the system to keep a file's data on the disk.
namespace PrivateFile {

// Makes the missing folders of path, each with access for the user alone. False with the
// system's reason when one cannot be made.
bool makeFolder(const QString &path, QString *reason);

// False, saying why, when the folder belongs to someone else or others may write into it:
// they could swap or read what goes into it.
bool checkFolder(const QString &path, QString *reason);

// Whether the file or folder belongs to the user who runs the program.
bool isUsers(const QFileInfo &info);

// Creates path, readable and writable by the user alone, and opens it for unbuffered writing.
// Never opens a file that exists: then *exists is set. False with the system's reason. On Unix
// the file is locked (flock) for as long as it stays open.
bool create(QFile *file, const QString &path, bool *exists, QString *reason);

// Whether a program has path open as its capture file: create() above holds a lock on the file
// itself for as long as it is open, which the system lets go when that program ends, however it
// ends. Never on Windows, where a file that is open cannot be removed.
bool heldByAnother(const QString &path);

// A handle that keeps the file at path, should its name be removed, until closeHeld(); -1 when
// it cannot be opened, and always on Windows, which cannot remove a file that is open and frees
// a removed file's space without making the remover wait.
int openToHold(const QString &path);
void closeHeld(int handle);

// The open file's stamp, asked of the system now through its handle.
FileStamp stamp(const QFile &file);
// The stamp of what path names now; a symbolic link's own, not its target's.
FileStamp stampAt(const QString &path);

// Asks the system to put the file's written data on the disk; blocks until it is there. False
// with the system's reason.
bool sync(QFile *file, QString *reason);

} // namespace PrivateFile

#endif // PRIVATEFILE_H
