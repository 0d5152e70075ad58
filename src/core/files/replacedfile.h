#pragma once

#include <QByteArray>
#include <QString>

namespace files {

// Replaces the file `name` with `bytes`, whole or not at all: they are written to a new file
// beside it, synced to the disk and then put in its place, so that a reader never sees half of
// them and a write that fails (a full disk) leaves the old file as it was. A device (a
// terminal, /dev/null) is written straight. False with the system's reason
// (replacedfile_unix.cpp, replacedfile_win.cpp).
bool replaceWhole(const QString &name, const QByteArray &bytes, QString *why);

} // namespace files
