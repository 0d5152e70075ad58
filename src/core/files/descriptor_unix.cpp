#include "core/files/descriptor.h"

#include "core/files/filenames.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace files::descriptor {

int openForAppending(const QString &name)
{
    const int fd = ::open(pathOf(name).c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    return fd >= 0 ? fd : ::open(pathOf(name).c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
}

void close(int fd)
{
    ::close(fd);
}

qint64 writeSome(int fd, const char *bytes, qsizetype size)
{
    ssize_t n;
    do
        n = ::write(fd, bytes, size_t(size));
    while (n < 0 && errno == EINTR);
    return n;
}

bool sync(int fd)
{
    return ::fsync(fd) == 0 || errno == EINVAL || errno == ENOTSUP;
}

bool isRegularFile(int fd)
{
    struct stat info = {};
    return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
}

qint64 size(int fd)
{
    return ::lseek(fd, 0, SEEK_END);
}

bool byteAt(int fd, qint64 offset, char *byte)
{
    return ::pread(fd, byte, 1, offset) == 1;
}

bool truncate(int fd, qint64 size)
{
    return ::ftruncate(fd, size) == 0;
}

} // namespace files::descriptor
