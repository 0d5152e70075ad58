#include "core/files/filelock.h"

#include "core/files/filenames.h"
#include "core/files/systemerror.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace files {

FileLock::FileLock(const QString &name)
{
    const int fd = ::open(pathOf(name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    int locked = -1;
    if (fd >= 0)
        do
            locked = ::flock(fd, LOCK_EX);
        while (locked != 0 && errno == EINTR);
    if (fd < 0 || locked != 0) {
        m_error = systemError(errno);
        if (fd >= 0)
            ::close(fd);
        return;
    }
    m_handle = fd;
}

FileLock::~FileLock()
{
    if (m_handle >= 0)
        ::close(int(m_handle)); // and the lock with it
}

} // namespace files
