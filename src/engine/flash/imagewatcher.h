#pragma once

#include "core/image/firmwareimage.h"
#include "core/image/imagefile.h"
#include "records/boardrecord.h"

#include <QElapsedTimer>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>

// The image a shift sends, and the file it came from: a shift outlives many builds of the
// image, so the file is looked at before boards start, and read again when it changed.
class ImageWatcher
{
public:
    // `name` as the records give it, `file` as the system gave it, `image` read from it as
    // `reading` says. A change is read once the file is whole (imagefile.h), after `steadyMs`.
    ImageWatcher(const QString &name, const std::filesystem::path &file,
                 std::shared_ptr<const PaddedImage> image,
                 const ImageReading &reading = ImageReading::anyFormatUpTo(defaultLargestImage),
                 int steadyMs = 1000);

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
    ImageReading m_reading;
    ImageSettling m_settling; // the file, while it changes
    QString m_name;
    std::filesystem::path m_file;
    std::shared_ptr<const PaddedImage> m_image;
    ImageRecord m_record;
    ImageStamp m_stamp;                           // the file as it was when last read
    std::shared_ptr<const PaddedImage> m_changed; // read, not taken
    ImageRecord m_changedRecord;
};
