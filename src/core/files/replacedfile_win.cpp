#include "core/files/replacedfile.h"

#include "core/files/descriptor.h"
#include "core/files/filenames.h"
#include "core/files/systemerror.h"

#include <cerrno>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

namespace files {

namespace {

QString windowsError(DWORD number)
{
    return QString::fromStdString(std::system_category().message(int(number)));
}

} // namespace

bool replaceWhole(const QString &name, const QByteArray &bytes, QString *why)
{
    const std::filesystem::path target = resolved(name);
    if (kindOf(name) == Kind::Device) { // NUL, a console: nothing to put in its place
        const int fd = ::_wopen(target.c_str(), _O_WRONLY | _O_BINARY);
        const bool written = fd >= 0 && descriptor::writeAll(fd, bytes.constData(), bytes.size());
        const int error = errno;
        if (fd >= 0)
            ::_close(fd);
        if (!written)
            *why = systemError(error);
        return written;
    }
    std::wstring temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temporary = target.wstring() + L".tmp-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                    std::to_wstring(attempt);
        fd = ::_wopen(temporary.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                      _S_IREAD | _S_IWRITE);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        *why = systemError(errno);
        return false;
    }
    bool written =
        descriptor::writeAll(fd, bytes.constData(), bytes.size()) && descriptor::sync(fd);
    const int error = errno;
    if (::_close(fd) != 0 && written) {
        *why = systemError(errno);
        ::_wunlink(temporary.c_str());
        return false;
    }
    if (!written) {
        ::_wunlink(temporary.c_str());
        *why = systemError(error);
        return false;
    }
    if (!MoveFileExW(temporary.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD failure = GetLastError();
        ::_wunlink(temporary.c_str());
        *why = windowsError(failure);
        return false;
    }
    return true;
}

} // namespace files
