#include "core/image/imagefile.h"

#include <windows.h>

bool beingWritten(const std::filesystem::path &file)
{
    // Opened sharing reading only: Windows refuses that while another program has the file
    // open for writing.
    const HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_SHARING_VIOLATION;
    CloseHandle(handle);
    return false;
}
