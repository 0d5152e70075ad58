#include "serial/porterror.h"

#include "serial/portlist.h"

#ifdef Q_OS_UNIX
#include <cerrno>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace porterror {

namespace {

#ifdef Q_OS_UNIX
// What to do when the port's permissions keep this user out: join the group that owns it when
// that group may read and write it, else who may use it. Empty when permissions are not why.
QString permissionAdvice(const QString &name)
{
    const QByteArray path = deviceNode(name).toLocal8Bit();
    if (::access(path.constData(), R_OK | W_OK) == 0 || errno != EACCES)
        return QString();
    struct stat info = {};
    if (::stat(path.constData(), &info) != 0)
        return QString();
    if ((info.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP)) {
        const group *owner = ::getgrgid(info.st_gid);
        return QStringLiteral("Add your user to the group %1, which owns the port, then log in "
                              "again.")
            .arg(owner ? QString::fromLocal8Bit(owner->gr_name) : QString::number(info.st_gid));
    }
    const passwd *user = ::getpwuid(info.st_uid);
    return QStringLiteral("Only its owner, %1, may use the port.")
        .arg(user ? QString::fromLocal8Bit(user->pw_name) : QString::number(info.st_uid));
}
#endif

} // namespace

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
#ifdef Q_OS_UNIX
    pollfd line = {int(port.handle()), POLLIN, 0};
    if (line.fd >= 0 && ::poll(&line, 1, 0) > 0 && (line.revents & POLLHUP))
        return QStringLiteral("The device was unplugged, or the line hung up.");
#endif
    return port.errorString();
}

QString openAdvice(const QString &name, QSerialPort::SerialPortError error)
{
    if (error != QSerialPort::PermissionError)
        return QString();
#ifdef Q_OS_UNIX
    const QString advice = permissionAdvice(name);
    if (!advice.isEmpty())
        return advice;
#else
    Q_UNUSED(name);
#endif
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
