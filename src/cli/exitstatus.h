#pragma once

#include <QString>

// vantyx-flash's exit statuses, and the line --help gives about them.
namespace exitstatus {

enum : int {
    AllSucceeded = 0,
    SomeFailed = 1,
    BadUsage = 2,
    BadImage = 3,
    CannotStart = 4, // its log, its metrics' port or file cannot be opened
    Interrupted = 130,
};

// The status a run earned. A board cut by Ctrl-C makes it Interrupted; Ctrl-C that cut none (a
// bench between boards) is no failure. A run that flashed nothing, outside a watch, failed; so
// did one whose log or report was not written whole.
inline int of(int succeeded, int failed, bool cut, bool watch, bool recordLost)
{
    if (cut)
        return Interrupted;
    const bool none = succeeded + failed == 0;
    return (none && !watch) || failed > 0 || recordLost ? SomeFailed : AllSucceeded;
}

inline QString described()
{
    return QStringLiteral("Exit status: %1 every port succeeded, %2 at least one failed, %3 bad "
                          "usage, %4 the image\ncannot be used, %5 the run cannot start (its log "
                          "or metrics cannot be opened), %6 interrupted.")
        .arg(AllSucceeded)
        .arg(SomeFailed)
        .arg(BadUsage)
        .arg(BadImage)
        .arg(CannotStart)
        .arg(Interrupted);
}

} // namespace exitstatus
