#include "engine/flash/imagewatcher.h"

std::optional<ImageStamp> ImageStamp::of(const std::filesystem::path &file)
{
    std::error_code error;
    ImageStamp stamp{std::filesystem::file_size(file, error), {}};
    if (error)
        return std::nullopt;
    stamp.modified = std::filesystem::last_write_time(file, error);
    if (error)
        return std::nullopt;
    return stamp;
}

ImageWatcher::ImageWatcher(const QString &name, const std::filesystem::path &file,
                           std::shared_ptr<const PaddedImage> image, int steadyMs)
    : m_steadyMs(steadyMs), m_name(name), m_file(file), m_image(std::move(image)),
      m_record(ImageRecord::of(name, *m_image)),
      m_stamp(ImageStamp::of(file).value_or(ImageStamp()))
{
}

ImageWatcher::Check ImageWatcher::check(QString *why, bool take)
{
    const std::optional<ImageStamp> now = ImageStamp::of(m_file);
    if (now && *now == m_stamp) {
        m_seen.reset();
        return Check::Current;
    }
    // A build or a copy writes the file in pieces: half of it is no image. It is taken once it
    // has stayed as it is for a moment and no program holds it open to write.
    if (now && (now != m_seen || !m_seenFor.isValid())) {
        m_seen = now;
        m_seenFor.start();
        return Check::Changing;
    }
    if (now && (m_seenFor.elapsed() < m_steadyMs || beingWritten(m_file)))
        return Check::Changing;
    m_seen.reset();
    std::optional<PaddedImage> image = readPaddedImage(m_file, why, ImageReading::AnyFormat);
    const std::optional<ImageStamp> after = ImageStamp::of(m_file);
    if (!image || !now || after != now) {
        if (image)
            *why = QStringLiteral("it changed while read");
        return Check::Unusable;
    }
    m_stamp = *after;
    const ImageRecord record = ImageRecord::of(m_name, *image);
    if (record.sha256 == m_record.sha256) {
        m_changed.reset(); // touched, or back to the one in use
        return Check::Current;
    }
    if (m_changed && record.sha256 == m_changedRecord.sha256)
        return Check::Current; // said already
    m_changed = std::make_shared<const PaddedImage>(std::move(*image));
    m_changedRecord = record;
    if (take)
        takeChanged();
    return Check::Changed;
}

bool ImageWatcher::takeChanged()
{
    if (!m_changed)
        return false;
    m_image = std::move(m_changed);
    m_record = m_changedRecord;
    m_changed.reset();
    return true;
}
