#include "core/serial/porterror_p.h"

namespace porterror {

bool lineHungUp(const QSerialPort &)
{
    return false; // a removed adapter is an error of its own there
}

QString permissionAdvice(const QString &)
{
    return QString(); // no group to join: a port refused is one in use
}

} // namespace porterror
