#include "core/files/appendedfile.h"

#include "core/files/descriptor.h"
#include "core/files/systemerror.h"

#include <cerrno>

namespace files {

AppendedFile::~AppendedFile()
{
    close();
}

bool AppendedFile::open(const QString &name, QString *why)
{
    close();
    m_name = name;
    m_partialLinesEnded = 0;
    m_fd = descriptor::openForAppending(name);
    if (m_fd < 0) {
        *why = systemError(errno);
        return false;
    }
    m_regular = descriptor::isRegularFile(m_fd);
    m_mayBePartial = m_regular;
    if (endPartialLine(why))
        return true;
    close();
    return false;
}

void AppendedFile::close()
{
    if (m_fd >= 0)
        descriptor::close(m_fd);
    m_fd = -1;
}

bool AppendedFile::endPartialLine(QString *why)
{
    if (!m_mayBePartial)
        return true;
    const qint64 size = descriptor::size(m_fd);
    char last = '\n';
    if (size > 0 && !descriptor::byteAt(m_fd, size - 1, &last))
        last = '\n'; // unreadable: nothing to mend
    if (last != '\n') {
        if (!descriptor::writeAll(m_fd, "\n", 1) || !descriptor::sync(m_fd)) {
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
    const qint64 before = m_regular ? descriptor::size(m_fd) : -1;
    if (descriptor::writeAll(m_fd, line.constData(), line.size()) && descriptor::sync(m_fd))
        return true;
    const int error = errno;
    // Half a line is no record: cut it off, or end it before the next one.
    if (before < 0 || !descriptor::truncate(m_fd, before))
        m_mayBePartial = m_regular;
    *why = systemError(error);
    return false;
}

} // namespace files
