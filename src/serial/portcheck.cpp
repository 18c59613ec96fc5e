#include "serial/portcheck.h"

#include "serial/devicepath.h"

#include <QLocale>

QString PortCheck::problem(const PortSettings &settings)
{
    const QLocale english(QLocale::English);
    if (settings.baudRate <= 0)
        return settings.baudRate == 0
            ? tr("No baud rate: choose one in the settings, or type it under Custom.")
            : tr("The baud rate %1 is not a rate: type a positive number.").arg(settings.baudRate);
    if (settings.baudRate > MaxBaudRate)
        return tr("The baud rate %1 is more than the highest the program offers, %2.")
            .arg(english.toString(settings.baudRate), english.toString(MaxBaudRate));
    return SerialPortName::problem(settings.portName);
}
