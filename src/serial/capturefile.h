#ifndef CAPTUREFILE_H
#define CAPTUREFILE_H

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <functional>

class CaptureSnapshot;
class QIODevice;

// Capture files: the received bytes written out exactly as they came, and read back line by
// line.
namespace CaptureFile {

enum class SaveResult { Saved, OpenFailed, WriteFailed, Cancelled };

struct SaveOutcome
{
    SaveResult result = SaveResult::Saved;
    QString reason; // the system's words for a failure
};

// Shared between a save and whoever watches it, from any thread.
struct SaveControl
{
    std::atomic<bool> cancelled{false};
    std::atomic<qint64> written{0};
};

// Writes the capture. A plain file is replaced only once the whole capture is written, so on
// failure or cancel the old one stays; beside it go the capture's events and time record
// (Sidecars), each replaced only when complete too. One that cannot be replaced (no new file can be
// made in its folder) is written in place, after a copy of its old content was made in the cache
// folder, which is put back on failure or cancel; without such a copy it is not touched, and it
// gets no sidecars, which could not be made there either. Anything else that exists under the name
// (a device, a pipe) is written into, never replaced. Blocks for as long as the writing takes.
SaveOutcome save(const QString &fileName, const CaptureSnapshot &capture,
                 SaveControl *control = nullptr);

// For tests: called on the saving thread as an in-place save passes each step that keeps the
// old content safe from a power cut. Set it before any save runs.
enum class InPlaceStep { CopySynced, Truncating, TargetSynced };
void setInPlaceProbe(const std::function<void(InPlaceStep)> &probe);

// Appends each line of the file, without its line end. On failure returns false and says why.
bool load(const QString &fileName, QList<QByteArray> *lines, QString *reason);

// The lines of an open device, each without its LF or CRLF; a leading UTF-8 byte-order mark
// is dropped.
QList<QByteArray> readLines(QIODevice *device);

} // namespace CaptureFile

#endif // CAPTUREFILE_H
