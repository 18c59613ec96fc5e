#ifndef TESTFILES_H
#define TESTFILES_H

#include <QChar>
#include <QFile>
#include <QString>

#include <cstring>

// Small helpers shared by the serial tests.
namespace testfiles {

inline QByteArray fileBytes(const QString &name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

inline bool writeFile(const QString &name, const QByteArray &bytes)
{
    QFile file(name);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// How the system words an errno value.
inline QString systemText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The code point that stands for a byte that is not part of a character.
inline QChar esc(ushort byte)
{
    return QChar(ushort(0xdc00 + byte));
}

} // namespace testfiles

#endif // TESTFILES_H
