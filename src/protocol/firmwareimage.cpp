#include "protocol/firmwareimage.h"

#include "protocol/quenlark.h"

#include <QString>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <limits>

std::optional<PaddedImage> readPaddedImage(const QString &path, QString *why)
{
    // Through the UTF-16 form, so that names outside ASCII open on Windows too.
    return readPaddedImage(std::filesystem::path(path.toStdU16String()), why);
}

std::optional<PaddedImage> readPaddedImage(const std::filesystem::path &file, QString *why)
{
    auto refuse = [why](const char *reason) {
        if (why)
            *why = QString::fromLatin1(reason);
        return std::nullopt;
    };
    std::error_code error;
    if (!std::filesystem::exists(file, error))
        return refuse("no such file");
    if (std::filesystem::is_directory(file, error))
        return refuse("a folder, not a file");
    if (!std::filesystem::is_regular_file(file, error))
        return refuse("not a regular file");

    std::ifstream in(file, std::ios::in | std::ios::binary | std::ios::ate);
    if (!in)
        return refuse("cannot be opened for reading");
    const std::streamoff length = in.tellg();
    if (length < 0)
        return refuse("cannot be read");
    // Nothing to send: a device told "0 bytes" would be reported as flashed.
    if (length == 0)
        return refuse("empty");

    // The buffer is the file plus 512 bytes, and all of it must fit the signed size.
    constexpr std::streamoff limit = std::numeric_limits<qint32>::max() - 512;
    const std::streamoff padded =
        (length + quenlark::blockSize - 1) / quenlark::blockSize * quenlark::blockSize;
    if (length > limit || padded > limit)
        return refuse("too large");

    const std::size_t bufferSize = std::size_t(length) + 512;
    PaddedImage image{std::unique_ptr<char[]>(new char[bufferSize]), qint32(padded),
                      qint32(length)};
    std::fill_n(image.data.get(), bufferSize, quenlark::padByte);
    in.seekg(0);
    in.read(image.data.get(), length);
    if (in.gcount() != length)
        return refuse("cannot be read whole");
    return image;
}
