#ifndef PORTDETAILS_H
#define PORTDETAILS_H

#include <QStringList>

class QSerialPortInfo;

// The seven-string details list that a port entry of the settings dialog carries:
// name, description, manufacturer, serial number, location, vendor id, product id.
namespace PortDetails {

enum Position {
    Name,
    Description,
    Manufacturer,
    SerialNumber,
    Location,
    VendorId,
    ProductId,
    Count
};

QStringList fromValues(const QString &portName, const QString &description,
                       const QString &manufacturer, const QString &serialNumber,
                       const QString &systemLocation, quint16 vendorId, quint16 productId);
QStringList fromPort(const QSerialPortInfo &info);

} // namespace PortDetails

#endif // PORTDETAILS_H
