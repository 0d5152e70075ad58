#pragma once

#include <QString>

#include <filesystem>
#include <memory>
#include <optional>

// A raw image padded with 0xFF to whole blocks; `data` holds the file's length + 512 bytes,
// which always covers `size`.
struct PaddedImage
{
    std::unique_ptr<char[]> data;
    qint32 size = 0;   // padded
    qint32 length = 0; // the file's
};

// Reads the whole file or nothing: a folder, a missing, empty or unreadable file, a short read
// or an image too large for the 32-bit size word all give nullopt, and `why` says which, so no
// partial image is ever sent.
std::optional<PaddedImage> readPaddedImage(const std::filesystem::path &file,
                                           QString *why = nullptr);
// The same for a name typed or chosen as text.
std::optional<PaddedImage> readPaddedImage(const QString &path, QString *why = nullptr);
