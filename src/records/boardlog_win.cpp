#include "records/boardlog.h"

#include <io.h>

bool BoardLog::syncToDisk()
{
    return ::_commit(m_file.handle()) == 0;
}
