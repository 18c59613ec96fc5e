#ifndef CAPTUREFILE_H
#define CAPTUREFILE_H

#include <QStringList>

class QIODevice;

// Capture files: the received bytes written back exactly as they came, and read back line by
// line.
namespace CaptureFile {

enum class SaveResult { Saved, OpenFailed, WriteFailed };

struct SaveOutcome
{
    SaveResult result = SaveResult::Saved;
    QString reason; // the system's words for a failure
};

// Writes the entries back to back, then tail. A plain file is replaced only once the whole
// capture is written, so on failure the old one stays; anything else that exists under the name
// (a device, a pipe) is written into, never replaced.
SaveOutcome save(const QString &fileName, const QStringList &chunks, const QString &tail = {});

// Writes the entries back to back, then tail, as the bytes they were received as.
bool write(QIODevice *out, const QStringList &chunks, const QString &tail = {});

// Appends each line of the file, without its line end. On failure returns false and says why.
bool load(const QString &fileName, QStringList *lines, QString *reason);

// The lines of an open device, each without its LF or CRLF; a leading UTF-8 byte-order mark
// is dropped. Bytes that are not UTF-8 are kept as escaped bytes.
QStringList readLines(QIODevice *device);

} // namespace CaptureFile

#endif // CAPTUREFILE_H
