#include "serial/portlist.h"

QList<QSerialPortInfo> listedPorts()
{
    return QSerialPortInfo::availablePorts();
}

QStringList listedPortNames()
{
    QStringList names;
    const QList<QSerialPortInfo> ports = listedPorts();
    for (const QSerialPortInfo &info : ports)
        names << info.portName();
    return names;
}
