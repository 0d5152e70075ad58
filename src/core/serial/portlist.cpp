#include "core/serial/portlist.h"

#include "core/serial/portname.h"

#include <QElapsedTimer>

QList<QSerialPortInfo> listedPorts()
{
    return QSerialPortInfo::availablePorts();
}

QList<QSerialPortInfo> recentListedPorts(int maxAgeMs)
{
    // One listing for every watcher in the process (the GUI thread's).
    static QList<QSerialPortInfo> ports;
    static QElapsedTimer age;
    static QString devices;
    QString now = serialDevices();
    if (!age.isValid() || age.elapsed() > maxAgeMs || now.isEmpty() || now != devices) {
        ports = listedPorts();
        devices = std::move(now);
        age.start();
    }
    return ports;
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
