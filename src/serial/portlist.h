#pragma once

#include <QList>
#include <QSerialPortInfo>
#include <QStringList>

// The serial ports the system lists, in its order: the window's list, --all, --list and
// --watch all read them from here.
QList<QSerialPortInfo> listedPorts();
QStringList listedPortNames();
// "vendor:product" in hex for a USB port, empty for any other.
QString usbId(const QSerialPortInfo &port);
// The device node a port name stands for on Unix: "ttyUSB0" is /dev/ttyUSB0, a path itself.
QString deviceNode(const QString &name);
// Whether listedPorts() can hold this port at all: on Linux only a tty with a device behind it
// (not a pseudo-terminal, not a port on another machine), found without listing them all.
bool mayBeListed(const QString &name);
