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
};

// What a file may be: raw bytes alone (FlashLoader's window), or also Intel HEX and S-record,
// found by the file's content (vantyx-flash, the bench).
enum class ImageReading { RawBytes, AnyFormat };

// Reads the whole file or nothing: a folder, a missing, empty or unreadable file, a short read
// or an image too large for the 32-bit size word all give nullopt, and `why` says which, so no
// partial image is ever sent.
std::optional<PaddedImage> readPaddedImage(const std::filesystem::path &file,
                                           QString *why = nullptr,
                                           ImageReading reading = ImageReading::RawBytes);
// The same for a name typed or chosen as text.
std::optional<PaddedImage> readPaddedImage(const QString &path, QString *why = nullptr,
                                           ImageReading reading = ImageReading::RawBytes);
