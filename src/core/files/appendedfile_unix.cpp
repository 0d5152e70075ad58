#include "core/files/appendedfile.h"

#include "core/files/filenames.h"
#include "core/files/systemerror.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace files {

namespace {

// Writes all of `bytes`; false with errno set when it could not.
bool writeAll(int fd, const char *bytes, qsizetype size)
{
    qsizetype done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, bytes + done, size_t(size - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        done += n;
    }
    return true;
}

// On the disk; a pipe or a terminal has nothing to sync.
bool synced(int fd)
{
    return ::fsync(fd) == 0 || errno == EINVAL || errno == ENOTSUP;
}

} // namespace

AppendedFile::~AppendedFile()
{
    close();
}

bool AppendedFile::open(const QString &name, QString *why)
{
    close();
    m_name = name;
    m_partialLinesEnded = 0;
    m_fd = ::open(pathOf(name).c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (m_fd < 0) // a device may be written and not read
        m_fd = ::open(pathOf(name).c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (m_fd < 0) {
        *why = systemError(errno);
        return false;
    }
    struct stat info = {};
    m_regular = ::fstat(m_fd, &info) == 0 && S_ISREG(info.st_mode);
    m_mayBePartial = m_regular;
    return endPartialLine(why) || (close(), false);
}

void AppendedFile::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool AppendedFile::endPartialLine(QString *why)
{
    if (!m_mayBePartial)
        return true;
    const off_t size = ::lseek(m_fd, 0, SEEK_END);
    char last = '\n';
    if (size > 0 && ::pread(m_fd, &last, 1, size - 1) != 1)
        last = '\n'; // unreadable: nothing to mend
    if (last != '\n') {
        if (!writeAll(m_fd, "\n", 1) || !synced(m_fd)) {
            *why = systemError(errno);
            return false;
        }
        ++m_partialLinesEnded;
    }
    m_mayBePartial = false;
    return true;
}

bool AppendedFile::append(const QByteArray &line, QString *why)
{
    if (m_fd < 0) {
        *why = systemError(EBADF);
        return false;
    }
    if (!endPartialLine(why))
        return false;
    const off_t before = m_regular ? ::lseek(m_fd, 0, SEEK_END) : -1;
    if (writeAll(m_fd, line.constData(), line.size()) && synced(m_fd))
        return true;
    const int error = errno;
    // Half a line is no record: cut it off, or end it before the next one.
    if (before < 0 || ::ftruncate(m_fd, before) != 0)
        m_mayBePartial = m_regular;
    *why = systemError(error);
    return false;
}

} // namespace files
