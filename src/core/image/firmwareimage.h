#pragma once

#include "core/image/imageformats.h"

#include <QString>
#include <QStringList>

#include <filesystem>
#include <memory>
#include <optional>

// A raw image padded with 0xFF to whole blocks; `data` holds the file's length + 512 bytes,
// which always covers `size`.
struct PaddedImage
{
    std::unique_ptr<char[]> data;
    qint32 size = 0;   // padded
    qint32 length = 0; // the file's, or what its records hold
    // A HEX or S-record file: what it was, where its bytes start, and the file's own SHA-256.
    imageformats::Format format = imageformats::Format::Raw;
    quint32 base = 0;
    QString fileSha256; // empty for a raw file: its bytes are the image
    QStringList notes;  // said, not refused (a start address ignored)
    // The largest run of 0xFF put between two records' data; 0 for none.
    qint64 gap = 0;
    quint32 gapFrom = 0; // its first address
};

// How a program reads images: raw bytes alone (FlashLoader's window), or also Intel HEX and
// S-record, found by the file's content (vantyx-flash, the bench); and the largest image it
// sends, so that a stray record far from the rest is said, not sent for hours.
struct ImageReading
{
    bool anyFormat = false;
    qint64 largest = 0; // bytes; 0: as large as the 32-bit size word takes

    static ImageReading rawBytes() { return {}; }
    static ImageReading anyFormatUpTo(qint64 largest) { return {true, largest}; }
};
// What the station programs send at the most unless told otherwise (--max-image-size).
constexpr qint64 defaultLargestImage = 16 << 20;
// "16 MiB", "512 KiB", "1000 bytes": a size as the operator reads it.
QString sizeText(qint64 bytes);

// Reads the whole file or nothing: a folder, a missing, empty or unreadable file, a short read
// or an image over the largest all give nullopt, and `why` says which, so no partial image is
// ever sent. (Whether the file is whole on the disk is imagefile.h's rule.)
std::optional<PaddedImage> readPaddedImage(const std::filesystem::path &file,
                                           QString *why = nullptr,
                                           const ImageReading &reading = ImageReading::rawBytes());
// The same for a name typed or chosen as text.
std::optional<PaddedImage> readPaddedImage(const QString &path, QString *why = nullptr,
                                           const ImageReading &reading = ImageReading::rawBytes());
