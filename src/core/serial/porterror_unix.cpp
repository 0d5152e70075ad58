#include "core/serial/porterror_p.h"

#include "core/serial/portname.h"

#include <cerrno>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace porterror {

bool lineHungUp(const QSerialPort &port)
{
    pollfd line = {int(port.handle()), POLLIN, 0};
    return line.fd >= 0 && ::poll(&line, 1, 0) > 0 && (line.revents & POLLHUP);
}

// Join the group that owns the port when that group may read and write it, else who may use
// it.
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

} // namespace porterror
