#pragma once

#include <QList>
#include <QSerialPortInfo>
#include <QStringList>

// The serial ports the system lists, in its order: the window's list, --all, --list and
// --watch all read them from here.
QList<QSerialPortInfo> listedPorts();
// The listing as it was at most `maxAgeMs` ago, taken anew when the system's set of serial
// devices changed since: for what looks at the ports every second or so. A whole listing opens
// a few thousand files on Linux; the set is read from a folder.
QList<QSerialPortInfo> recentListedPorts(int maxAgeMs = 10000);
QStringList listedPortNames();
// "vendor:product" in hex for a USB port, empty for any other.
QString usbId(const QSerialPortInfo &port);
