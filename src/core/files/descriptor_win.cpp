#include "core/files/descriptor.h"

#include "core/files/filenames.h"

#include <cerrno>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

namespace files::descriptor {

int openForAppending(const QString &name)
{
    const std::wstring path = pathOf(name).wstring();
    const int fd = ::_wopen(path.c_str(), _O_RDWR | _O_APPEND | _O_CREAT | _O_BINARY | _O_NOINHERIT,
                            _S_IREAD | _S_IWRITE);
    return fd >= 0 ? fd : ::_wopen(path.c_str(), _O_WRONLY | _O_APPEND | _O_BINARY | _O_NOINHERIT);
}

void close(int fd)
{
    ::_close(fd);
}

qint64 writeSome(int fd, const char *bytes, qsizetype size)
{
    return ::_write(fd, bytes, unsigned(qMin<qsizetype>(size, 1 << 30)));
}

bool sync(int fd)
{
    return !isRegularFile(fd) || ::_commit(fd) == 0;
}

bool isRegularFile(int fd)
{
    struct _stat64 info = {};
    return ::_fstat64(fd, &info) == 0 && (info.st_mode & _S_IFREG);
}

qint64 size(int fd)
{
    return ::_lseeki64(fd, 0, SEEK_END);
}

bool byteAt(int fd, qint64 offset, char *byte)
{
    return ::_lseeki64(fd, offset, SEEK_SET) == offset && ::_read(fd, byte, 1) == 1;
}

bool truncate(int fd, qint64 size)
{
    return ::_chsize_s(fd, size) == 0;
}

} // namespace files::descriptor
