#include "serial/portlist.h"

#include <QFileInfo>

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

QString deviceNode(const QString &name)
{
    return name.startsWith(QLatin1Char('/')) ? name : QStringLiteral("/dev/") + name;
}

bool mayBeListed(const QString &name)
{
#ifdef Q_OS_LINUX
    const QString node = QFileInfo(deviceNode(name)).canonicalFilePath();
    return !node.isEmpty() &&
           QFileInfo::exists(
               QStringLiteral("/sys/class/tty/%1/device").arg(QFileInfo(node).fileName()));
#else
    Q_UNUSED(name);
    return true;
#endif
}

QStringList listedPortNames()
{
    QStringList names;
    const QList<QSerialPortInfo> ports = listedPorts();
    for (const QSerialPortInfo &info : ports)
        names << info.portName();
    return names;
}
