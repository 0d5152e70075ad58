#include "core/files/descriptor.h"

#include <cerrno>

namespace files::descriptor {

bool writeAll(int fd, const char *bytes, qsizetype size)
{
    qsizetype done = 0;
    while (done < size) {
        const qint64 n = writeSome(fd, bytes + done, size - done);
        if (n <= 0) {
            if (n == 0) // a file system that takes nothing more is full
                errno = ENOSPC;
            return false;
        }
        done += n;
    }
    return true;
}

} // namespace files::descriptor
