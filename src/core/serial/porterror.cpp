#include "core/serial/porterror.h"

#include "core/serial/porterror_p.h"

namespace porterror {

bool isFatal(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
    case QSerialPort::PermissionError:
    case QSerialPort::OpenError:
    case QSerialPort::WriteError:
    case QSerialPort::ReadError:
    case QSerialPort::ResourceError:
    case QSerialPort::UnknownError:
        return true;
    default: // no error, a timed-out wait, a setting the driver refused, a closed port
        return false;
    }
}

QString reason(const QSerialPort &port)
{
    if (lineHungUp(port))
        return QStringLiteral("The device was unplugged, or the line hung up.");
    return port.errorString();
}

QString openAdvice(const QString &name, QSerialPort::SerialPortError error)
{
    if (error != QSerialPort::PermissionError)
        return QString();
    const QString advice = permissionAdvice(name);
    if (!advice.isEmpty())
        return advice;
    return QStringLiteral("Another program may be using the port.");
}

QString openFailureText(const QString &name, const QString &reason, const QString &advice)
{
    QString text = QStringLiteral("Error opening the port %1.\n%2").arg(name, reason);
    if (!advice.isEmpty())
        text += QLatin1Char('\n') + advice;
    return text;
}

QString lostText(const QString &name, const QString &reason)
{
    return QStringLiteral("Lost the port %1.\n%2").arg(name, reason);
}

} // namespace porterror
