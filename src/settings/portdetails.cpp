#include "settings/portdetails.h"

#include <QSerialPortInfo>

namespace PortDetails {

namespace {

// "N/A" is a marker, not prose, so it is deliberately left untranslated.
QString orNotAvailable(const QString &text)
{
    return text.isEmpty() ? QStringLiteral("N/A") : text;
}

QString identifier(quint16 id)
{
    return id == 0 ? QStringLiteral("N/A") : QString::number(id, 16);
}

} // namespace

QStringList fromValues(const QString &portName, const QString &description,
                       const QString &manufacturer, const QString &serialNumber,
                       const QString &systemLocation, quint16 vendorId, quint16 productId)
{
    return {portName,
            orNotAvailable(description),
            orNotAvailable(manufacturer),
            orNotAvailable(serialNumber),
            systemLocation,
            identifier(vendorId),
            identifier(productId)};
}

QStringList fromPort(const QSerialPortInfo &info)
{
    return fromValues(info.portName(), info.description(), info.manufacturer(), info.serialNumber(),
                      info.systemLocation(), info.vendorIdentifier(), info.productIdentifier());
}

} // namespace PortDetails
