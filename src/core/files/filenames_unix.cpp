#include "core/files/filenames.h"

namespace files {

bool samePath(const std::filesystem::path &a, const std::filesystem::path &b)
{
    return a == b;
}

} // namespace files
