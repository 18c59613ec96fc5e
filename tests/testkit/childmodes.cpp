#include "childmodes.h"

#include <QProcess>

#include <cstdio>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace testkit {

int runChildMode(int argc, char *argv[], const ChildModes &modes)
{
    if (argc < 2 || qstrncmp(argv[1], "--", 2) != 0)
        return -1;
    const QString name = QString::fromLocal8Bit(argv[1]);
    QCoreApplication app(argc, argv);
    const auto mode = modes.constFind(name);
    if (mode == modes.constEnd()) {
        std::fprintf(stderr, "unknown child mode %s\n", argv[1]);
        return 2;
    }
    QStringList arguments;
    for (int i = 2; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return (*mode)(arguments);
}

QString runChild(const QString &mode, const QStringList &arguments, int timeoutMs)
{
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), QStringList{mode} + arguments);
    if (!child.waitForFinished(timeoutMs)) {
        child.kill();
        child.waitForFinished();
        return QStringLiteral("<child %1 did not end within %2 ms>").arg(mode).arg(timeoutMs);
    }
    if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
        return QStringLiteral("<child %1 failed (%2): %3>")
            .arg(mode)
            .arg(child.exitCode())
            .arg(QString::fromLocal8Bit(child.readAllStandardError()));
    return QString::fromLocal8Bit(child.readAllStandardOutput());
}

bool becomeUnprivileged()
{
#ifdef Q_OS_UNIX
    constexpr uid_t Nobody = 65534;
    return ::getuid() != 0 || (::setgid(Nobody) == 0 && ::setuid(Nobody) == 0);
#else
    return true;
#endif
}

} // namespace testkit
