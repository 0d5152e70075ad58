#include "core/image/firmwareimage.h"

#include "core/protocol/quenlark.h"

#include <QCryptographicHash>
#include <QString>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <limits>

namespace {

// The buffer is the image plus 512 bytes, and all of it must fit the signed size.
constexpr std::streamoff largestImage = std::numeric_limits<qint32>::max() - 512;

// `length` bytes, then 0xFF to whole blocks and beyond.
PaddedImage padded(const char *bytes, qint64 length)
{
    const qint64 size =
        (length + quenlark::blockSize - 1) / quenlark::blockSize * quenlark::blockSize;
    const std::size_t bufferSize = std::size_t(length) + 512;
    PaddedImage image;
    image.data.reset(new char[bufferSize]);
    image.size = qint32(size);
    image.length = qint32(length);
    std::fill_n(image.data.get(), bufferSize, quenlark::padByte);
    std::copy_n(bytes, length, image.data.get());
    return image;
}

// The file's name as text, for its extension; empty when the system's bytes are no text
// (a name that is not UTF-8 on Unix), which leaves the content alone to say what it is.
QString fileNameOf(const std::filesystem::path &file)
{
    try {
        return QString::fromStdU16String(file.filename().u16string());
    } catch (const std::exception &) {
        return QString();
    }
}

} // namespace

QString sizeText(qint64 bytes)
{
    if (bytes >= (1 << 20) && bytes % (1 << 20) == 0)
        return QStringLiteral("%1 MiB").arg(bytes >> 20);
    if (bytes >= (1 << 10) && bytes % (1 << 10) == 0)
        return QStringLiteral("%1 KiB").arg(bytes >> 10);
    return QStringLiteral("%1 bytes").arg(bytes);
}

std::optional<PaddedImage> readPaddedImage(const QString &path, QString *why,
                                           const ImageReading &reading)
{
    // Through the UTF-16 form, so that names outside ASCII open on Windows too.
    return readPaddedImage(std::filesystem::path(path.toStdU16String()), why, reading);
}

std::optional<PaddedImage> readPaddedImage(const std::filesystem::path &file, QString *why,
                                           const ImageReading &reading)
{
    auto refuse = [why](const QString &reason) {
        if (why)
            *why = reason;
        return std::nullopt;
    };
    std::error_code error;
    if (!std::filesystem::exists(file, error))
        return refuse(QStringLiteral("no such file"));
    if (std::filesystem::is_directory(file, error))
        return refuse(QStringLiteral("a folder, not a file"));
    if (!std::filesystem::is_regular_file(file, error))
        return refuse(QStringLiteral("not a regular file"));

    std::ifstream in(file, std::ios::in | std::ios::binary | std::ios::ate);
    if (!in)
        return refuse(QStringLiteral("cannot be opened for reading"));
    const std::streamoff length = in.tellg();
    if (length < 0)
        return refuse(QStringLiteral("cannot be read"));
    // Nothing to send: a device told "0 bytes" would be reported as flashed.
    if (length == 0)
        return refuse(QStringLiteral("empty"));
    const std::streamoff whole =
        (length + quenlark::blockSize - 1) / quenlark::blockSize * quenlark::blockSize;
    if (length > largestImage || whole > largestImage)
        return refuse(QStringLiteral("too large"));
    const qint64 largest =
        reading.largest > 0 ? qMin<qint64>(reading.largest, largestImage) : largestImage;

    QByteArray content(qsizetype(length), Qt::Uninitialized);
    in.seekg(0);
    in.read(content.data(), length);
    if (in.gcount() != length)
        return refuse(QStringLiteral("cannot be read whole"));
    // A HEX or S-record file as a Windows editor saves it (a byte order mark, UTF-16) is read
    // as the text it is.
    const QByteArray text = reading.anyFormat ? imageformats::eightBitText(content) : content;
    const imageformats::Format format = reading.anyFormat
                                            ? imageformats::detect(text, fileNameOf(file))
                                            : imageformats::Format::Raw;
    if (format == imageformats::Format::Raw) {
        if (length > largest)
            return refuse(QStringLiteral("%1 bytes, larger than the %2 allowed (--max-image-size)")
                              .arg(qint64(length))
                              .arg(sizeText(largest)));
        return padded(content.constData(), length);
    }

    // Never sent as raw bytes: a HEX file's text flashed is a board that does not start.
    QString problem;
    const std::optional<imageformats::Converted> converted = imageformats::convert(
        text, format, qMin<qint64>(largest, largestImage - quenlark::blockSize), &problem);
    if (!converted)
        return refuse(QStringLiteral("%1 file: %2")
                          .arg(format == imageformats::Format::IntelHex
                                   ? QStringLiteral("Intel HEX")
                                   : QStringLiteral("S-record"),
                               problem));
    PaddedImage image = padded(converted->bytes.constData(), converted->bytes.size());
    image.format = format;
    image.base = converted->base;
    image.fileSha256 =
        QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex());
    image.notes = converted->notes;
    image.gap = converted->gap;
    image.gapFrom = converted->gapFrom;
    return image;
}
