#include "serial/devicepath.h"

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
