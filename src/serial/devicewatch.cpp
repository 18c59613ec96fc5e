#include "serial/devicewatch.h"

#include <QFileInfo>
#include <QSerialPortInfo>

#include <algorithm>

DeviceWatch::DeviceWatch(QObject *parent)
    : QObject(parent)
{
    timer.setInterval(LookIntervalMs);
    connect(&timer, &QTimer::timeout, this, &DeviceWatch::look);
}

void DeviceWatch::remember(const QString &path, const DeviceIdentity &found)
{
    stop();
    devicePath = path;
    identity = found;
}

void DeviceWatch::start()
{
    lostAt = QDateTime::currentDateTime();
    sinceLoss.start();
    lookCount = 0;
    rejected = false;
    // Never at once: the loss is being handled inside the port's own signal, and the port must
    // not be opened again from there.
    timer.start();
}

void DeviceWatch::stop()
{
    timer.stop();
}

bool DeviceWatch::present()
{
    rejected = false;
    return presentAsBefore();
}

bool DeviceWatch::presentAsBefore()
{
    if (!exists()) {
        rejected = false;
        return false;
    }
    if (!identity.known())
        return true;
    if (rejected)
        return false;
    const DeviceIdentity now = identityOf(devicePath);
    // A device the system has not described yet is asked again at the next look.
    rejected = now.known() && now != identity;
    return now == identity;
}

void DeviceWatch::look()
{
    ++lookCount;
    if (presentAsBefore())
        emit returned();
}

bool DeviceWatch::exists() const
{
#ifdef Q_OS_UNIX
    return QFileInfo::exists(devicePath);
#else
    // No file to look at: COM ports are listed by the system only.
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    return std::any_of(ports.begin(), ports.end(), [this](const QSerialPortInfo &port) {
        return port.portName() == devicePath || port.systemLocation() == devicePath;
    });
#endif
}

QString DeviceWatch::waitingText() const
{
    return tr("Device lost at %1; reconnecting when %2 returns")
        .arg(lostAt.toString(QStringLiteral("HH:mm:ss")), devicePath);
}

QString DeviceWatch::reconnectedText(qint64 gapMicros)
{
    return tr("Reconnected after %1 s (gap recorded)").arg(double(gapMicros) / 1e6, 0, 'f', 1);
}

DeviceIdentity DeviceWatch::systemIdentity(const QString &path)
{
    const QString target = QFileInfo(path).canonicalFilePath();
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &port : ports) {
        if (port.portName() != path && port.systemLocation() != path
            && (target.isEmpty() || port.systemLocation() != target))
            continue;
        DeviceIdentity found;
        if (port.hasVendorIdentifier())
            found.vendor = QString::number(port.vendorIdentifier(), 16);
        if (port.hasProductIdentifier())
            found.product = QString::number(port.productIdentifier(), 16);
        found.serialNumber = port.serialNumber();
        return found;
    }
    return {};
}
