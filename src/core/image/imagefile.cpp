#include "core/image/imagefile.h"

#include <QThread>

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

ImageSettling::ImageSettling(const std::filesystem::path &file, int steadyMs)
    : m_file(file), m_steadyMs(steadyMs)
{
}

ImageSettling::State ImageSettling::look(QString *why)
{
    const std::optional<ImageStamp> now = ImageStamp::of(m_file);
    if (!now) {
        m_seen.reset();
        return State::Missing;
    }
    if (now != m_seen || !m_seenFor.isValid()) {
        m_seen = now;
        m_seenFor.start();
    }
    // Written longer ago than the steady time by the file's own clock, or seen so for as long.
    // A time in whole seconds (FAT keeps two; some C libraries drop the fraction) may stand for
    // a write up to two seconds later.
    auto modified = now->modified;
    if (modified.time_since_epoch() % std::chrono::seconds(1) == std::chrono::seconds(0))
        modified += std::chrono::seconds(2);
    const auto age = std::filesystem::file_time_type::clock::now() - modified;
    const bool steady =
        age >= std::chrono::milliseconds(m_steadyMs) || m_seenFor.elapsed() >= m_steadyMs;
    if (!steady) {
        if (why)
            *why = QStringLiteral("it changed less than %1 s ago").arg(m_steadyMs / 1000.0);
        return State::Changing;
    }
    if (beingWritten(m_file)) {
        if (why)
            *why = QStringLiteral("a program has it open to write");
        return State::Changing;
    }
    return State::Whole;
}

std::optional<PaddedImage> readWholeImage(const std::filesystem::path &file, QString *why,
                                          const ImageReading &reading, int waitMs,
                                          const std::function<void(const QString &)> &waiting)
{
    constexpr int lookEveryMs = 100;
    constexpr int quietMs = 2000; // a file saved a moment ago is waited for without a word
    ImageSettling settling(file);
    QElapsedTimer waited;
    waited.start();
    bool said = false;
    for (;;) {
        QString reason;
        const ImageSettling::State state = settling.look(&reason);
        if (state == ImageSettling::State::Whole) {
            std::optional<PaddedImage> image = readPaddedImage(file, why, reading);
            // Unchanged while it was read, or it is read again once whole.
            if (!image || ImageStamp::of(file) == settling.stamp())
                return image;
            reason = QStringLiteral("it changed while it was read");
        } else if (state == ImageSettling::State::Missing) {
            return readPaddedImage(file, why, reading); // which says why
        }
        if (waited.elapsed() >= waitMs) {
            if (why)
                *why = QStringLiteral("still being written after %1 s (%2)")
                           .arg(waitMs / 1000.0)
                           .arg(reason);
            return std::nullopt;
        }
        if (!said && waiting && waited.elapsed() >= quietMs) {
            waiting(reason);
            said = true;
        }
        QThread::msleep(lookEveryMs);
    }
}
