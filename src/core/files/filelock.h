#pragma once

#include <QString>

namespace files {

// An exclusive lock on a file, held from construction to destruction, between processes: the
// lock file is made when missing and left in place (filelock_unix.cpp, filelock_win.cpp).
class FileLock
{
public:
    explicit FileLock(const QString &name);
    ~FileLock();
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

    bool isLocked() const { return m_handle >= 0; }
    QString error() const { return m_error; }

private:
    qintptr m_handle = -1;
    QString m_error;
};

} // namespace files
