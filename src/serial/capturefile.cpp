// Saving the capture to a file and reading one back.

#include "serial/capturefile.h"

#include "serial/capturestore.h"
#include "serial/devicepath.h"
#include "serial/privatefile.h"
#include "timeline/sidecars.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryFile>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#endif

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

namespace {

// All of the bytes, or false with the device's error: a write the disk cuts short is tried on,
// so that the reason is the system's (a full disk, a size limit) and not an unknown one.
bool writeAll(QIODevice *device, const QByteArray &bytes)
{
    qint64 done = 0;
    while (done < bytes.size()) {
        const qint64 n = device->write(bytes.constData() + done, bytes.size() - done);
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

using CaptureFile::SaveControl;
using CaptureFile::SaveOutcome;
using CaptureFile::SaveResult;

bool isCancelled(const SaveControl *control)
{
    return control && control->cancelled.load();
}

void addWritten(SaveControl *control, qint64 bytes)
{
    if (control)
        control->written += bytes;
}

#ifdef Q_OS_UNIX
// A pipe or a device. Opened without blocking, so that a pipe nobody reads is refused at once
// instead of hanging the save; written with a wait for room that a cancel can interrupt.
SaveOutcome writeInto(const QString &fileName, const CaptureSnapshot &capture, SaveControl *control)
{
    const int fd = ::open(QFile::encodeName(fileName).constData(),
                          O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return {SaveResult::OpenFailed, qt_error_string(errno)};
    SaveOutcome outcome;
    QString readFailure;
    const bool read = capture.read(
        [&](const QByteArray &block) {
            const char *p = block.constData();
            qint64 left = block.size();
            while (left > 0) {
                if (isCancelled(control)) {
                    outcome.result = SaveResult::Cancelled;
                    return false;
                }
                const ssize_t n = ::write(fd, p, size_t(left));
                if (n > 0) {
                    p += n;
                    left -= n;
                    addWritten(control, n);
                } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                    pollfd room{fd, POLLOUT, 0};
                    ::poll(&room, 1, 100);
                } else if (n < 0 && errno != EINTR) {
                    outcome = {SaveResult::WriteFailed, qt_error_string(errno)};
                    return false;
                }
            }
            return true;
        },
        &readFailure);
    ::close(fd);
    if (!read)
        return {SaveResult::WriteFailed, readFailure};
    return outcome;
}
#endif

// Writes the capture into out, watching for a cancel between blocks; seen is shown each block.
SaveOutcome copyTo(QIODevice *out, const CaptureSnapshot &capture, SaveControl *control,
                   const std::function<void(const QByteArray &)> &seen = {})
{
    SaveOutcome outcome;
    QString readFailure;
    const bool read = capture.read(
        [&](const QByteArray &block) {
            if (isCancelled(control)) {
                outcome.result = SaveResult::Cancelled;
                return false;
            }
            if (seen)
                seen(block);
            // A write cut short by a full disk or a size limit says why only when tried again.
            for (qint64 done = 0; done < block.size();) {
                const qint64 n = out->write(block.constData() + done, block.size() - done);
                if (n <= 0) {
                    outcome = {SaveResult::WriteFailed, out->errorString()};
                    return false;
                }
                done += n;
                addWritten(control, n);
            }
            return true;
        },
        &readFailure);
    if (!read)
        return {SaveResult::WriteFailed, readFailure};
    return outcome;
}

// Copies what is left of in to out; false with *reason on failure.
bool copyRest(QFile *in, QFile *out, QString *reason)
{
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (;;) {
        const qint64 n = in->read(buffer.data(), buffer.size());
        if (n == 0)
            return true;
        if (n < 0) {
            *reason = QDir::toNativeSeparators(in->fileName()) + ": " + in->errorString();
            return false;
        }
        for (qint64 done = 0; done < n;) {
            const qint64 w = out->write(buffer.constData() + done, n - done);
            if (w <= 0) {
                *reason = QDir::toNativeSeparators(out->fileName()) + ": " + out->errorString();
                return false;
            }
            done += w;
        }
    }
}

// The texts of a save.
class SaveTexts
{
    Q_DECLARE_TR_FUNCTIONS(CaptureFile)
};

std::function<void(CaptureFile::InPlaceStep)> &inPlaceProbe()
{
    static std::function<void(CaptureFile::InPlaceStep)> probe;
    return probe;
}

void passed(CaptureFile::InPlaceStep step)
{
    if (inPlaceProbe())
        inPlaceProbe()(step);
}

// A plain file that cannot be replaced, because no new file can be made beside it. Its old
// content is copied to the cache folder first and put back on cancel or failure; a file that
// cannot be copied is not touched.
SaveOutcome saveInPlace(const QString &fileName, const CaptureSnapshot &capture,
                        SaveControl *control)
{
    // Read and write, so that opening does not empty it.
    QFile target(fileName);
    if (!target.open(QIODevice::ReadWrite | QIODevice::Unbuffered))
        return {SaveResult::OpenFailed, target.errorString()};
    const QString folder = CaptureStore::defaultFolder();
    QTemporaryFile backup(folder + QStringLiteral("/saved-over-XXXXXX.txt"));
    QString reason;
    // The capture's own folder, as private: made so from the start, or refused.
    if (PrivateFile::makeFolder(folder, &reason) && PrivateFile::checkFolder(folder, &reason)) {
        if (!backup.open())
            reason = QDir::toNativeSeparators(folder) + ": " + backup.errorString();
        else if (!copyRest(&target, &backup, &reason)) {
            // reason says why
        }
        // On the disk before the target is cut: after a power cut in between, the copy is there.
        else if (!PrivateFile::sync(&backup, &reason))
            reason = QDir::toNativeSeparators(backup.fileName()) + ": " + reason;
        else
            passed(CaptureFile::InPlaceStep::CopySynced);
    }
    if (!reason.isEmpty())
        return {SaveResult::OpenFailed,
                SaveTexts::tr("No copy of the old content could be kept") + '\n' + reason};

    SaveOutcome outcome;
    passed(CaptureFile::InPlaceStep::Truncating);
    if (!target.seek(0) || !target.resize(0))
        outcome = {SaveResult::WriteFailed, target.errorString()};
    else
        outcome = copyTo(&target, capture, control);
    // Saved only once on the disk, as a replaced file is.
    if (outcome.result == SaveResult::Saved) {
        if (PrivateFile::sync(&target, &reason)) {
            passed(CaptureFile::InPlaceStep::TargetSynced);
            return outcome;
        }
        outcome = {SaveResult::WriteFailed, reason};
    }
    if (!target.seek(0) || !target.resize(0) || !backup.seek(0)
        || !copyRest(&backup, &target, &reason) || !PrivateFile::sync(&target, &reason)) {
        // The copy is all that is left of the old content: it stays for the user.
        backup.setAutoRemove(false);
        outcome.reason += '\n'
            + SaveTexts::tr("The old content is kept in %1")
                  .arg(QDir::toNativeSeparators(backup.fileName()));
    } else {
        passed(CaptureFile::InPlaceStep::TargetSynced);
    }
    return outcome;
}

#ifdef Q_OS_WIN
// The system's words for an error code. Not qt_error_string(), which reads some codes as errno.
QString windowsErrorText(DWORD code)
{
    wchar_t *text = nullptr;
    const DWORD size = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    const QString result = size > 0 ? QString::fromWCharArray(text, int(size)).trimmed()
                                    : QStringLiteral("error %1").arg(code);
    LocalFree(text);
    return result;
}

// A device or a pipe. Opened only if it exists, so that it is neither created nor truncated as
// QFile would; written in overlapped pieces, so that a cancel can take back a write that the far
// end does not take.
SaveOutcome writeInto(const QString &fileName, const CaptureSnapshot &capture, SaveControl *control)
{
    const HANDLE handle
        = CreateFileW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(fileName).utf16()),
                      GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return {SaveResult::OpenFailed, windowsErrorText(GetLastError())};
    OVERLAPPED pending = {};
    pending.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!pending.hEvent) {
        const DWORD error = GetLastError();
        CloseHandle(handle);
        return {SaveResult::OpenFailed, windowsErrorText(error)};
    }
    SaveOutcome outcome;
    QString readFailure;
    const bool read = capture.read(
        [&](const QByteArray &block) {
            const char *p = block.constData();
            qint64 left = block.size();
            while (left > 0) {
                if (isCancelled(control)) {
                    outcome.result = SaveResult::Cancelled;
                    return false;
                }
                const DWORD piece = DWORD(qMin<qint64>(left, 64 * 1024));
                if (!WriteFile(handle, p, piece, nullptr, &pending)) {
                    const DWORD error = GetLastError();
                    if (error != ERROR_IO_PENDING) {
                        outcome = {SaveResult::WriteFailed, windowsErrorText(error)};
                        return false;
                    }
                }
                while (WaitForSingleObject(pending.hEvent, 100) == WAIT_TIMEOUT) {
                    if (isCancelled(control))
                        CancelIo(handle);
                }
                DWORD n = 0;
                if (!GetOverlappedResult(handle, &pending, &n, TRUE)) {
                    const DWORD error = GetLastError();
                    if (error == ERROR_OPERATION_ABORTED)
                        outcome.result = SaveResult::Cancelled;
                    else
                        outcome = {SaveResult::WriteFailed, windowsErrorText(error)};
                    return false;
                }
                if (n == 0) {
                    outcome = {SaveResult::WriteFailed, windowsErrorText(ERROR_WRITE_FAULT)};
                    return false;
                }
                p += n;
                left -= n;
                addWritten(control, n);
            }
            return true;
        },
        &readFailure);
    CloseHandle(pending.hEvent);
    CloseHandle(handle);
    if (!read)
        return {SaveResult::WriteFailed, readFailure};
    return outcome;
}
#endif

} // namespace

namespace CaptureFile {

SaveOutcome save(const QString &fileName, const CaptureSnapshot &capture, SaveControl *control)
{
    // A device or a pipe: replacing it with a plain file would destroy it. Windows is asked by
    // name, as what QFileInfo says of \\.\COM3 or \\.\pipe\name is not documented.
    const QFileInfo info(fileName);
#ifdef Q_OS_WIN
    const bool device = isWindowsDevicePath(fileName) || (info.exists() && !info.isFile());
#else
    const bool device = info.exists() && !info.isFile();
#endif
    if (device)
        return writeInto(fileName, capture, control);

    QSaveFile file(fileName);
    // Unbuffered: bytes left in a buffer would meet a full disk only in commit(), which
    // cannot tell.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        // No new file can be made beside it, as in a folder where the user may not create files.
        if (info.exists())
            return saveInPlace(fileName, capture, control);
        return {SaveResult::OpenFailed, file.errorString()};
    }
    const CaptureTimeline timeline = capture.timeline();
    QVector<qint64> offsets;
    offsets.reserve(timeline.events.size());
    for (const CaptureEvent &event : timeline.events)
        offsets.append(event.offset);
    // Counted on the way: a capture of gigabytes is not read twice.
    Sidecars::LineCounter lines(offsets);
    const SaveOutcome outcome
        = copyTo(&file, capture, control, [&lines](const QByteArray &block) { lines.feed(block); });
    if (outcome.result != SaveResult::Saved) {
        file.cancelWriting();
        return outcome;
    }
    // Complete before the capture is replaced: should one fail, all three old files stay.
    QSaveFile events(Sidecars::eventsPath(fileName));
    QSaveFile times(Sidecars::timesPath(fileName));
    const QByteArray table[] = {Sidecars::eventsTable(timeline, lines.lines()),
                                Sidecars::timesTable(timeline.times.points())};
    QSaveFile *const sidecars[] = {&events, &times};
    for (int i = 0; i < 2; ++i) {
        // Unbuffered as the capture: a table in Qt's buffer is flushed by commit(), which
        // would not notice the flush fail and put a part of the table in place.
        if (!sidecars[i]->open(QIODevice::WriteOnly | QIODevice::Unbuffered)
            || !writeAll(sidecars[i], table[i])) {
            const QString reason = QDir::toNativeSeparators(sidecars[i]->fileName())
                + QStringLiteral(": ") + sidecars[i]->errorString();
            file.cancelWriting();
            return {SaveResult::WriteFailed, reason};
        }
    }
    if (!file.commit())
        return {SaveResult::WriteFailed, file.errorString()};
    for (QSaveFile *sidecar : sidecars) {
        if (!sidecar->commit())
            return {SaveResult::WriteFailed,
                    QDir::toNativeSeparators(sidecar->fileName()) + QStringLiteral(": ")
                        + sidecar->errorString()};
    }
    return {};
}

void setInPlaceProbe(const std::function<void(InPlaceStep)> &probe)
{
    inPlaceProbe() = probe;
}

bool load(const QString &fileName, QList<QByteArray> *lines, QString *reason)
{
    QFile file(fileName);
    // Not in text mode: that would drop every CR, also one inside a line.
    if (!file.open(QIODevice::ReadOnly)) {
        *reason = file.errorString();
        return false;
    }
    *lines += readLines(&file);
    return true;
}

QList<QByteArray> readLines(QIODevice *device)
{
    QList<QByteArray> lines;
    bool first = true;
    while (!device->atEnd()) {
        QByteArray line = device->readLine();
        if (first && line.startsWith("\xef\xbb\xbf")) {
            line.remove(0, 3);
            if (line.isEmpty())
                continue;
        }
        first = false;
        // LF or CRLF ends a line; so does a CR that ends the file.
        if (line.endsWith('\n'))
            line.chop(1);
        if (line.endsWith('\r'))
            line.chop(1);
        lines.append(line);
    }
    return lines;
}

} // namespace CaptureFile
