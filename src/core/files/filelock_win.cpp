#include "core/files/filelock.h"

#include "core/files/filenames.h"

#include <system_error>

#include <windows.h>

namespace files {

FileLock::FileLock(const QString &name)
{
    const HANDLE handle = CreateFileW(pathOf(name).c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    OVERLAPPED whole = {};
    if (handle == INVALID_HANDLE_VALUE ||
        !LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
        m_error = QString::fromStdString(std::system_category().message(int(GetLastError())));
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
        return;
    }
    m_handle = reinterpret_cast<qintptr>(handle);
}

FileLock::~FileLock()
{
    if (m_handle >= 0)
        CloseHandle(reinterpret_cast<HANDLE>(m_handle)); // and the lock with it
}

} // namespace files
