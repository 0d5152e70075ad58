#include "core/files/replacedfile.h"

#include "core/files/descriptor.h"
#include "core/files/filenames.h"
#include "core/files/systemerror.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace files {

bool replaceWhole(const QString &name, const QByteArray &bytes, QString *why)
{
    const std::filesystem::path target = resolved(name);
    const QByteArray path(target.c_str());
    struct stat old = {};
    const bool exists = ::stat(path.constData(), &old) == 0;
    if (exists && !S_ISREG(old.st_mode)) { // a device: nothing to put in its place
        const int fd = ::open(path.constData(), O_WRONLY | O_CLOEXEC);
        const bool written = fd >= 0 && descriptor::writeAll(fd, bytes.constData(), bytes.size());
        const int error = errno;
        if (fd >= 0)
            ::close(fd);
        if (!written)
            *why = systemError(error);
        return written;
    }
    // Beside it, so that the rename stays on one file system.
    QByteArray temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temporary =
            path + ".tmp-" + QByteArray::number(::getpid()) + '-' + QByteArray::number(attempt);
        fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        *why = systemError(errno);
        return false;
    }
    if (exists) // the file keeps who may read it
        ::fchmod(fd, old.st_mode & 07777);
    bool written =
        descriptor::writeAll(fd, bytes.constData(), bytes.size()) && descriptor::sync(fd);
    int error = errno;
    if (::close(fd) != 0 && written) {
        written = false;
        error = errno;
    }
    if (written && ::rename(temporary.constData(), path.constData()) != 0) {
        written = false;
        error = errno;
    }
    if (!written) {
        ::unlink(temporary.constData());
        *why = systemError(error);
        return false;
    }
    // The rename itself on the disk too.
    const int dir = ::open(target.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

} // namespace files
