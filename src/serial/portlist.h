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
