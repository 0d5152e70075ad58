#pragma once

#include <QSerialPort>
#include <QString>

// What the operator is told when a port will not open or goes away, in the system's words
// where it has any, and with what to do about it where that is known.
namespace porterror {

// An error after which nothing more passes: the port was removed, or a read or write failed.
bool isFatal(QSerialPort::SerialPortError error);

// Why `port` failed. A line that hung up (an unplugged adapter) is said as such: the system
// gives no words of its own for it.
QString reason(const QSerialPort &port);

// How to get past a failed open of `name`: the group to join when the port's permissions keep
// this user out, or a hint that another program holds it; empty when nothing is known.
QString openAdvice(const QString &name, QSerialPort::SerialPortError error);

// "Error opening the port NAME." and, a line each, the reason and the advice.
QString openFailureText(const QString &name, const QString &reason, const QString &advice);
// "Lost the port NAME." and the reason.
QString lostText(const QString &name, const QString &reason);

} // namespace porterror
