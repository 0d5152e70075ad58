#pragma once

#include <QString>

#include <filesystem>

// How ports are named and told apart on this system. Each system's rules are in a file of its
// own: portname_unix.cpp, portname_win.cpp.

// The device node a port name stands for on Unix: "ttyUSB0" is /dev/ttyUSB0, a path itself.
// The name itself elsewhere.
QString deviceNode(const QString &name);
// One name for each port however it is written: "pts/3", "/dev/pts/3" and a link to it are one
// port on Unix; "COM3", "com3" and "\\.\COM3" on Windows; a port on another machine by its
// address.
QString portKey(const QString &name);
// Whether the system's port listing can hold this port at all: on Linux only a tty with a
// device behind it (not a pseudo-terminal, not a port on another machine), found without
// listing them all.
bool mayBeListed(const QString &name);
// Whether a port given by name can be looked for without listing every port: true where ports
// are device nodes.
bool portsAreDeviceNodes();
// Whether the named port is there now (its device node exists); only where
// portsAreDeviceNodes().
bool deviceNodeExists(const QString &name);
// Which device is behind a port now: a board swapped in between two looks gets a new node.
// Empty where the system gives no such thing, and for a port that is not there.
QString nodeIdentity(const QString &name);
// The name of `name`'s port that stays with the place it is plugged into: on Linux its link in
// /dev/serial/by-path (the folder can be given, for a test), elsewhere the name itself.
QString stablePortName(const QString &name,
                       const QString &byPathFolder = QStringLiteral("/dev/serial/by-path"));
// The serial devices the system has now, as one text that changes when one comes or goes;
// empty where there is no cheap way to tell.
QString serialDevices();
// A file's path with the bytes the system gave on the command line: on Unix a name need not be
// UTF-8, and its text form would name another file.
std::filesystem::path systemPathOf(const QString &argument, int argc, char **argv);
