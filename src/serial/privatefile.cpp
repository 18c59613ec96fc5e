#include "serial/privatefile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#endif

namespace {

// The texts of the namespace below, in a context of their own.
class Texts
{
    Q_DECLARE_TR_FUNCTIONS(PrivateFile)
};

#ifdef Q_OS_UNIX
FileStamp fromStat(const struct stat &st)
{
    FileStamp s;
    s.size = qint64(st.st_size);
#ifdef Q_OS_DARWIN
    s.modifiedNs = qint64(st.st_mtimespec.tv_sec) * 1000000000 + st.st_mtimespec.tv_nsec;
#else
    s.modifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
#endif
    s.volume = quint64(st.st_dev);
    s.node = quint64(st.st_ino);
    return s;
}
#endif

#ifdef Q_OS_WIN
FileStamp fromHandle(HANDLE handle)
{
    FileStamp s;
    BY_HANDLE_FILE_INFORMATION info;
    if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &info))
        return s;
    s.size = qint64((quint64(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
    // In units of 100 ns.
    s.modifiedNs = qint64((quint64(info.ftLastWriteTime.dwHighDateTime) << 32)
                          | info.ftLastWriteTime.dwLowDateTime)
        * 100;
    s.volume = info.dwVolumeSerialNumber;
    s.node = (quint64(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return s;
}
#endif

} // namespace

namespace PrivateFile {

bool makeFolder(const QString &path, QString *reason)
{
#ifdef Q_OS_UNIX
    // QDir::mkpath makes folders with the umask's mode; narrowing them afterwards leaves a
    // moment in which another user may enter or swap them.
    const QString clean = QDir::cleanPath(QDir(path).absolutePath());
    int from = 1;
    for (;;) {
        const int slash = clean.indexOf(QLatin1Char('/'), from);
        const QString part = slash < 0 ? clean : clean.left(slash);
        if (::mkdir(QFile::encodeName(part).constData(), 0700) != 0 && errno != EEXIST) {
            *reason
                = QDir::toNativeSeparators(part) + QStringLiteral(": ") + qt_error_string(errno);
            return false;
        }
        if (slash < 0)
            return true;
        from = slash + 1;
    }
#else
    if (QDir().mkpath(path))
        return true;
    *reason = QDir::toNativeSeparators(path) + QStringLiteral(": ")
        + Texts::tr("the folder could not be made");
    return false;
#endif
}

bool isUsers(const QFileInfo &info)
{
#ifdef Q_OS_UNIX
    return info.ownerId() == ::getuid();
#else
    Q_UNUSED(info)
    return true;
#endif
}

bool checkFolder(const QString &path, QString *reason)
{
    const QFileInfo info(path);
    const QString name = QDir::toNativeSeparators(path) + QStringLiteral(": ");
    if (!info.isDir()) {
        *reason = name + Texts::tr("not a folder");
        return false;
    }
    if (!isUsers(info)) {
        *reason = name + Texts::tr("the folder belongs to another user");
        return false;
    }
#ifdef Q_OS_UNIX
    if (info.permissions() & (QFile::WriteGroup | QFile::WriteOther)) {
        *reason = name + Texts::tr("others may write into the folder");
        return false;
    }
#endif
    return true;
}

bool create(QFile *file, const QString &path, bool *exists, QString *reason)
{
    *exists = false;
#ifdef Q_OS_UNIX
    // Created with its final mode: QFile would create it with the umask's. Appending: a write
    // after someone cut the file short lands at its end instead of after a hole of zeros.
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        *exists = errno == EEXIST;
        *reason = qt_error_string(errno);
        return false;
    }
    // Held as long as the file is open, and let go by the system when the program dies however
    // it does: another run tells a live capture by it even when its lock file was removed. A
    // file system without such locks only loses that second sign.
    ::flock(fd, LOCK_EX | LOCK_NB);
    if (!file->open(fd, QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered,
                    QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        *reason = file->errorString();
        return false;
    }
    return true;
#else
    file->setFileName(path);
    if (file->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::NewOnly
                   | QIODevice::Unbuffered))
        return true;
    *exists = file->exists();
    *reason = file->errorString();
    return false;
#endif
}

bool heldByAnother(const QString &path)
{
#ifdef Q_OS_UNIX
    const int fd = openToHold(path);
    if (fd < 0)
        return false;
    int result;
    do {
        result = ::flock(fd, LOCK_SH | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    const bool held = result != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
#else
    // Windows refuses to delete a file that is open, lock and all, so a live capture cannot
    // lose its lock file there, and nothing else is needed.
    Q_UNUSED(path)
    return false;
#endif
}

int openToHold(const QString &path)
{
#ifdef Q_OS_UNIX
    // Without blocking: the name may be a pipe or a device that someone put there.
    return ::open(QFile::encodeName(path).constData(),
                  O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
#else
    Q_UNUSED(path)
    return -1;
#endif
}

void closeHeld(int handle)
{
#ifdef Q_OS_UNIX
    if (handle >= 0)
        ::close(handle);
#else
    Q_UNUSED(handle)
#endif
}

FileStamp stamp(const QFile &file)
{
#if defined(Q_OS_UNIX)
    struct stat st = {};
    if (file.handle() < 0 || ::fstat(file.handle(), &st) != 0)
        return {};
    return fromStat(st);
#elif defined(Q_OS_WIN)
    if (file.handle() < 0)
        return {};
    return fromHandle(reinterpret_cast<HANDLE>(_get_osfhandle(file.handle())));
#else
    Q_UNUSED(file)
    return {};
#endif
}

FileStamp stampAt(const QString &path)
{
#if defined(Q_OS_UNIX)
    struct stat st = {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return fromStat(st);
#elif defined(Q_OS_WIN)
    // No access asked, every kind of sharing allowed: looking disturbs no one who has it open.
    const HANDLE handle = CreateFileW(
        reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(path).utf16()), 0,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return {};
    const FileStamp s = fromHandle(handle);
    CloseHandle(handle);
    return s;
#else
    Q_UNUSED(path)
    return {};
#endif
}

bool sync(QFile *file, QString *reason)
{
    if (!file->flush()) {
        *reason = file->errorString();
        return false;
    }
#if defined(Q_OS_WIN)
    if (FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(file->handle()))) != 0)
        return true;
    *reason = qt_error_string(int(GetLastError()));
    return false;
#elif defined(Q_OS_UNIX)
    int result;
    do {
        result = ::fdatasync(file->handle());
    } while (result != 0 && errno == EINTR);
    if (result == 0)
        return true;
    *reason = qt_error_string(errno);
    return false;
#else
    Q_UNUSED(reason)
    return true;
#endif
}

} // namespace PrivateFile
