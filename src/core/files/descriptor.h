#pragma once

#include <QByteArray>
#include <QString>

// The few calls on an open file that writing a file whole or a line at a time needs, in each
// system's own (descriptor_unix.cpp, descriptor_win.cpp). Each false or -1 leaves the reason
// in errno.
namespace files::descriptor {

// For appending, made when missing; read too where the system lets it (a device may not).
int openForAppending(const QString &name);
void close(int fd);
// As much of `bytes` as the system takes at once: how many, 0 or -1 when none.
qint64 writeSome(int fd, const char *bytes, qsizetype size);
bool writeAll(int fd, const char *bytes, qsizetype size);
// On the disk, not only in the system's cache; a pipe or a terminal has nothing to sync.
bool sync(int fd);
bool isRegularFile(int fd);
qint64 size(int fd);
// The byte at `offset`; false when it cannot be read.
bool byteAt(int fd, qint64 offset, char *byte);
bool truncate(int fd, qint64 size);

} // namespace files::descriptor
