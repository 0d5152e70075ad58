#include "records/boardlog.h"

#include <cerrno>
#include <unistd.h>

bool BoardLog::syncToDisk()
{
    return ::fsync(m_file.handle()) == 0 || errno == EINVAL; // a pipe or a terminal: nothing
}
