#pragma once

#include "core/image/firmwareimage.h"

#include <QElapsedTimer>
#include <QString>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>

// The one rule for every read of an image file, in every program, the first read as well as a
// later one: a build or a copy writes a file in pieces, and half an image flashed is a board
// that does not start. A file is whole once its size and time have stayed as they are for a
// second (a file last written longer ago is whole at once) and no program holds it open to
// write.

// Whether a program has `file` open for writing now, as far as this system lets one see
// (imagewriters_unix.cpp, imagewriters_win.cpp).
bool beingWritten(const std::filesystem::path &file);

// What says an image file may have changed: its size and modification time.
struct ImageStamp
{
    std::uintmax_t size = 0;
    std::filesystem::file_time_type modified;
    bool operator==(const ImageStamp &other) const
    {
        return size == other.size && modified == other.modified;
    }
    bool operator!=(const ImageStamp &other) const { return !(*this == other); }
    // Nullopt when the file cannot be looked at.
    static std::optional<ImageStamp> of(const std::filesystem::path &file);
};

// Looks at a file until it is whole.
class ImageSettling
{
public:
    explicit ImageSettling(const std::filesystem::path &file, int steadyMs = 1000);

    enum class State {
        Whole,    // steady and no writer: it may be read
        Changing, // written now, or changed less than the steady time ago
        Missing,  // cannot be looked at (the reader says why)
    };
    // Looks once; `why` says what keeps a changing file from being whole.
    State look(QString *why = nullptr);
    // The stamp at the last look.
    std::optional<ImageStamp> stamp() const { return m_seen; }

private:
    std::filesystem::path m_file;
    int m_steadyMs;
    std::optional<ImageStamp> m_seen;
    QElapsedTimer m_seenFor; // how long it has looked as it does
};

// The image read once it is whole, waiting for that up to `waitMs` (sleeping in short steps;
// for a program's first read, before any port is opened). `waiting` is told once why it waits,
// when it has waited for longer than a file just saved takes.
// Nullopt with the reason when it cannot be read, or is still being written at the end.
std::optional<PaddedImage>
readWholeImage(const std::filesystem::path &file, QString *why, const ImageReading &reading,
               int waitMs, const std::function<void(const QString &why)> &waiting = {});
