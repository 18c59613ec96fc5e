#ifndef CAPTUREFILE_H
#define CAPTUREFILE_H

#include <QStringList>

class QIODevice;

// Capture files: the received text written back to back in UTF-8, and read back line by line.
namespace CaptureFile {

enum class SaveResult { Saved, OpenFailed, WriteFailed };

// Replaces fileName only once the whole capture is written; on failure the old file stays.
SaveResult save(const QString &fileName, const QStringList &chunks);

// Appends each line of the file, without its line end; false when it cannot be opened.
bool load(const QString &fileName, QStringList *lines);

// The lines of an open device, read as UTF-8 (a byte-order mark is honoured), each
// without its LF or CRLF.
QStringList readLines(QIODevice *device);

} // namespace CaptureFile

#endif // CAPTUREFILE_H
