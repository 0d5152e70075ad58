#pragma once

#include "core/image/firmwareimage.h"
#include "records/boardrecord.h"

#include <QElapsedTimer>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>

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

// The image a shift sends, and the file it came from: a shift outlives many builds of the
// image, so the file is looked at before boards start, and read again when it changed.
class ImageWatcher
{
public:
    // `name` as the records give it, `file` as the system gave it, `image` read from it. A
    // change is read once the file has stayed as it is for `steadyMs` and no program has it
    // open for writing.
    ImageWatcher(const QString &name, const std::filesystem::path &file,
                 std::shared_ptr<const PaddedImage> image, int steadyMs = 1000);

    enum class Check {
        Current,  // unchanged, or touched without a change of its bytes
        Changed,  // read anew: image() and record() are the new one, or with `take` false,
                  // changedRecord(), until takeChanged()
        Unusable, // cannot be read whole and unchanged now; `why` says why
        Changing, // changed, and still being written (or not steady yet): boards wait
    };
    // Changed comes once for each new content of the file.
    Check check(QString *why, bool take = true);
    bool takeChanged();

    std::shared_ptr<const PaddedImage> image() const { return m_image; }
    const ImageRecord &record() const { return m_record; }
    const ImageRecord &changedRecord() const { return m_changedRecord; }

private:
    int m_steadyMs;
    std::optional<ImageStamp> m_seen; // the file at the last check, while it changes
    QElapsedTimer m_seenFor;          // how long it has stayed so
    QString m_name;
    std::filesystem::path m_file;
    std::shared_ptr<const PaddedImage> m_image;
    ImageRecord m_record;
    ImageStamp m_stamp;                           // the file as it was when last read
    std::shared_ptr<const PaddedImage> m_changed; // read, not taken
    ImageRecord m_changedRecord;
};
