#ifndef PORTCHECK_H
#define PORTCHECK_H

#include "settings/portsettings.h"

#include <QCoreApplication>
#include <QString>

// The settings checked before a port is opened with them, so that a choice the line cannot have
// is refused with its reason instead of opening as something else.
class PortCheck
{
    Q_DECLARE_TR_FUNCTIONS(PortCheck)

public:
    // The highest baud rate the program offers.
    static constexpr qint32 MaxBaudRate = 4000000;

    // Why a port cannot be opened with these settings, or an empty text if it may be.
    static QString problem(const PortSettings &settings);
};

#endif // PORTCHECK_H
