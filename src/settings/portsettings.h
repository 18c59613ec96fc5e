#ifndef PORTSETTINGS_H
#define PORTSETTINGS_H

#include <QSerialPort>
#include <QString>

// The serial parameters chosen in the settings dialog, with the texts they were shown as.
struct PortSettings
{
    QString portName;
    qint32 baudRate = 0;
    QString baudRateText;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QString dataBitsText;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QString parityText;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
    QString stopBitsText;
    QSerialPort::FlowControl flowControl = QSerialPort::NoFlowControl;
    QString flowControlText;
    bool localEcho = false;
};

#endif // PORTSETTINGS_H
