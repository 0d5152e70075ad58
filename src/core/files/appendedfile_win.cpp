#include "core/files/appendedfile.h"

#include "core/files/filenames.h"
#include "core/files/systemerror.h"

#include <cerrno>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

namespace files {

namespace {

bool writeAll(int fd, const char *bytes, qsizetype size)
{
    qsizetype done = 0;
    while (done < size) {
        const int n = ::_write(fd, bytes + done, unsigned(qMin<qsizetype>(size - done, 1 << 30)));
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        done += n;
    }
    return true;
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
    const std::wstring path = pathOf(name).wstring();
    m_fd = ::_wopen(path.c_str(), _O_RDWR | _O_APPEND | _O_CREAT | _O_BINARY | _O_NOINHERIT,
                    _S_IREAD | _S_IWRITE);
    if (m_fd < 0)
        m_fd = ::_wopen(path.c_str(), _O_WRONLY | _O_APPEND | _O_BINARY | _O_NOINHERIT);
    if (m_fd < 0) {
        *why = systemError(errno);
        return false;
    }
    struct _stat64 info = {};
    m_regular = ::_fstat64(m_fd, &info) == 0 && (info.st_mode & _S_IFREG);
    m_mayBePartial = m_regular;
    return endPartialLine(why) || (close(), false);
}

void AppendedFile::close()
{
    if (m_fd >= 0)
        ::_close(m_fd);
    m_fd = -1;
}

bool AppendedFile::endPartialLine(QString *why)
{
    if (!m_mayBePartial)
        return true;
    const __int64 size = ::_lseeki64(m_fd, 0, SEEK_END);
    char last = '\n';
    if (size > 0 && (::_lseeki64(m_fd, size - 1, SEEK_SET) < 0 || ::_read(m_fd, &last, 1) != 1))
        last = '\n';
    if (last != '\n') {
        if (!writeAll(m_fd, "\n", 1) || ::_commit(m_fd) != 0) {
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
    const __int64 before = m_regular ? ::_lseeki64(m_fd, 0, SEEK_END) : -1;
    if (writeAll(m_fd, line.constData(), line.size()) && (!m_regular || ::_commit(m_fd) == 0))
        return true;
    const int error = errno;
    if (before < 0 || ::_chsize_s(m_fd, before) != 0)
        m_mayBePartial = m_regular;
    *why = systemError(error);
    return false;
}

} // namespace files
