#include "core/files/filenames.h"

#include <QString>

namespace files {

bool samePath(const std::filesystem::path &a, const std::filesystem::path &b)
{
    // NTFS names are compared without case, and either slash separates.
    const auto text = [](const std::filesystem::path &path) {
        return QString::fromStdU16String(path.lexically_normal().u16string())
            .replace(QLatin1Char('/'), QLatin1Char('\\'));
    };
    return text(a).compare(text(b), Qt::CaseInsensitive) == 0;
}

} // namespace files
