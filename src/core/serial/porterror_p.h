#pragma once

#include <QSerialPort>
#include <QString>

// What only the system can tell about a port's failure: porterror_unix.cpp, porterror_win.cpp.
namespace porterror {

// The line hung up (an unplugged adapter), which the system gives no words of its own for.
bool lineHungUp(const QSerialPort &port);
// What to do when the port's permissions keep this user out; empty when they are not why.
QString permissionAdvice(const QString &name);

} // namespace porterror
