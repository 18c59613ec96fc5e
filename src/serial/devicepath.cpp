#include "serial/devicepath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

bool isWindowsDevicePath(const QString &path)
{
    QString name = path;
    name.replace(QLatin1Char('/'), QLatin1Char('\\'));
    if (name.startsWith(QLatin1String("\\\\.\\")) && name.size() > 4)
        return true;
    // Windows drops trailing dots and spaces from a name, and ignores what follows the first dot
    // of a reserved name: "nul.txt" and "COM3 " are the devices too.
    static const QRegularExpression reserved(
        QStringLiteral("^(CON|PRN|AUX|NUL|COM[1-9]|LPT[1-9]|CONIN\\$|CONOUT\\$)[ .]*(\\..*)?$"),
        QRegularExpression::CaseInsensitiveOption);
    const QString last = name.mid(name.lastIndexOf(QLatin1Char('\\')) + 1);
    return reserved.match(last).hasMatch();
}

QString SerialPortName::problem(const QString &portName)
{
    if (portName.isEmpty())
        return tr("No port is chosen: choose one in the settings, or type a device path under "
                  "Custom.");
    // As Qt Serial Port makes a system path of a plain name such as "ttyUSB0".
    const bool plain = !portName.contains(QLatin1Char('/'));
    const QString path = plain ? QStringLiteral("/dev/") + portName : portName;
    const QString locked = path.startsWith(QLatin1String("/dev/")) ? path.mid(5) : path;
    const int bytes = QFile::encodeName(locked).size();
    if (bytes > MaxBytes)
        return tr("The device path is too long to open: %1 bytes, and at most %2 can be.")
            .arg(bytes)
            .arg(MaxBytes);
#ifdef Q_OS_UNIX
    const QString target = QFileInfo(path).canonicalFilePath();
    for (const QString &multiplexer :
         {QStringLiteral("/dev/ptmx"), QStringLiteral("/dev/pts/ptmx")}) {
        if (QDir::cleanPath(path) == multiplexer || target == multiplexer)
            return tr("%1 is the system's pseudo-terminal multiplexer, not a device: opening it "
                      "makes a new terminal that nothing is connected to. Type the path of the "
                      "terminal's far end, such as /dev/pts/3.")
                .arg(portName);
    }
#endif
    return QString();
}
