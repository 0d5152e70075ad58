#include "engine/flash/imagewatcher.h"

ImageWatcher::ImageWatcher(const QString &name, const std::filesystem::path &file,
                           std::shared_ptr<const PaddedImage> image, const ImageReading &reading,
                           int steadyMs)
    : m_reading(reading), m_settling(file, steadyMs), m_name(name), m_file(file),
      m_image(std::move(image)), m_record(ImageRecord::of(name, *m_image)),
      m_stamp(ImageStamp::of(file).value_or(ImageStamp()))
{
}

ImageWatcher::Check ImageWatcher::check(QString *why, bool take)
{
    const std::optional<ImageStamp> now = ImageStamp::of(m_file);
    if (now && *now == m_stamp)
        return Check::Current;
    // Half of a file being written is no image: it is read once whole.
    if (now && m_settling.look() == ImageSettling::State::Changing)
        return Check::Changing;
    std::optional<PaddedImage> image = readPaddedImage(m_file, why, m_reading);
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
