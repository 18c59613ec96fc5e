#ifndef PRIVATEFILE_H
#define PRIVATEFILE_H

#include <QString>

class QFile;
class QFileInfo;

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
// Never opens a file that exists: then *exists is set. False with the system's reason.
bool create(QFile *file, const QString &path, bool *exists, QString *reason);

// Asks the system to put the file's written data on the disk; blocks until it is there. False
// with the system's reason.
bool sync(QFile *file, QString *reason);

} // namespace PrivateFile

#endif // PRIVATEFILE_H
