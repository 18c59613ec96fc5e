#include "timeline/captureevent.h"

QString CaptureEvent::typeName(Type type)
{
    switch (type) {
    case Type::Marker:
        return QStringLiteral("marker");
    case Type::Start:
        return QStringLiteral("start");
    case Type::Stop:
        return QStringLiteral("stop");
    case Type::Silence:
        return QStringLiteral("silence");
    case Type::Lost:
        return QStringLiteral("lost");
    case Type::Reconnected:
        return QStringLiteral("reconnected");
    case Type::Restarted:
        return QStringLiteral("restarted");
    case Type::Memory:
        return QStringLiteral("memory");
    case Type::PutBack:
        return QStringLiteral("putback");
    }
    return QString();
}
