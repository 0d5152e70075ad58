#include "flash/boardlog.h"

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
    if (m_file.write(line) == line.size() && m_file.flush() && syncToDisk())
        return true;
    *why = m_file.errorString();
    return false;
}
