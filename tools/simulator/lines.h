#pragma once

#include "device.h"

#include <memory>

namespace devicesim {

#ifdef Q_OS_UNIX
// A new pseudo-terminal pair: the device keeps the master and holds the slave open, so the
// host's closes never hang the line up. Null with a reason on failure.
std::unique_ptr<Line> openPtyLine(QString *slaveName, QString *error);
#endif

// A serial port with the updater's line settings; it must be made on the thread that uses it.
std::unique_ptr<Line> openSerialLine(const QString &name, QString *error);

} // namespace devicesim
