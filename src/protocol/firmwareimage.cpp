#include "protocol/firmwareimage.h"

#include "protocol/quenlark.h"

#include <QString>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <limits>

std::optional<PaddedImage> readPaddedImage(const QString &path)
{
    // Through the UTF-16 form, so that names outside ASCII open on Windows too.
    const std::filesystem::path file(path.toStdU16String());
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error))
        return std::nullopt;

    std::ifstream in(file, std::ios::in | std::ios::binary | std::ios::ate);
    if (!in)
        return std::nullopt;
    const std::streamoff length = in.tellg();
    if (length < 0)
        return std::nullopt;

    // The buffer is the file plus 512 bytes, and all of it must fit the signed size.
    constexpr std::streamoff limit = std::numeric_limits<qint32>::max() - 512;
    if (length > limit)
        return std::nullopt;
    const std::streamoff padded =
        (length + quenlark::blockSize - 1) / quenlark::blockSize * quenlark::blockSize;
    if (padded > limit)
        return std::nullopt;

    const std::size_t bufferSize = std::size_t(length) + 512;
    PaddedImage image{std::unique_ptr<char[]>(new char[bufferSize]), qint32(padded)};
    std::fill_n(image.data.get(), bufferSize, quenlark::padByte);
    in.seekg(0);
    in.read(image.data.get(), length);
    if (in.gcount() != length)
        return std::nullopt;
    return image;
}
