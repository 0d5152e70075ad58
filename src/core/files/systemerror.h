#pragma once

#include <QString>

#include <system_error>

namespace files {

// The system's own words for an error number (errno), as "No space left on device": never
// "Unknown error".
inline QString systemError(int number)
{
    return QString::fromLocal8Bit(std::generic_category().message(number).c_str());
}

} // namespace files
