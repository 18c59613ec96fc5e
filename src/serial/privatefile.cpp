#include "serial/privatefile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#endif

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
        + QCoreApplication::translate("MainWindow", "the folder could not be made");
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
        *reason = name + QCoreApplication::translate("MainWindow", "not a folder");
        return false;
    }
    if (!isUsers(info)) {
        *reason = name
            + QCoreApplication::translate("MainWindow", "the folder belongs to another user");
        return false;
    }
#ifdef Q_OS_UNIX
    if (info.permissions() & (QFile::WriteGroup | QFile::WriteOther)) {
        *reason
            = name + QCoreApplication::translate("MainWindow", "others may write into the folder");
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
