#include "serial/portlist.h"

QList<QSerialPortInfo> listedPorts()
{
    return QSerialPortInfo::availablePorts();
}

QString usbId(const QSerialPortInfo &port)
{
    if (!port.hasVendorIdentifier() || !port.hasProductIdentifier())
        return QString();
    return QStringLiteral("%1:%2")
        .arg(port.vendorIdentifier(), 4, 16, QLatin1Char('0'))
        .arg(port.productIdentifier(), 4, 16, QLatin1Char('0'));
}

QStringList listedPortNames()
{
    QStringList names;
    const QList<QSerialPortInfo> ports = listedPorts();
    for (const QSerialPortInfo &info : ports)
        names << info.portName();
    return names;
}
