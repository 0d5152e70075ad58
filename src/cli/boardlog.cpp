#include "cli/boardlog.h"

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <cerrno>
#include <unistd.h>
#endif

namespace {

bool syncToDisk(int fd)
{
#ifdef Q_OS_WIN
    return ::_commit(fd) == 0;
#else
    return ::fsync(fd) == 0 || errno == EINVAL; // a pipe or a terminal has nothing to sync
#endif
}

} // namespace

bool BoardLog::open(const QString &path, QString *why)
{
    m_file.setFileName(path);
    if (m_file.open(QIODevice::WriteOnly | QIODevice::Append))
        return true;
    *why = m_file.errorString();
    return false;
}

bool BoardLog::append(const QByteArray &line, QString *why)
{
    if (m_file.write(line) == line.size() && m_file.flush() && syncToDisk(m_file.handle()))
        return true;
    *why = m_file.errorString();
    return false;
}
