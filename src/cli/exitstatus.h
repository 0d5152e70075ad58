#pragma once

#include <QString>

// vantyx-flash's exit statuses, and the line --help gives about them.
namespace exitstatus {

enum : int {
    AllSucceeded = 0,
    SomeFailed = 1,
    BadUsage = 2,
    BadImage = 3,
    Interrupted = 130,
};

inline QString described()
{
    return QStringLiteral("Exit status: %1 every port succeeded, %2 at least one failed, %3 bad "
                          "usage, %4 the image\ncannot be used, %5 interrupted.")
        .arg(AllSucceeded)
        .arg(SomeFailed)
        .arg(BadUsage)
        .arg(BadImage)
        .arg(Interrupted);
}

} // namespace exitstatus
