#include "transport.h"

#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif

namespace devicesim {

#ifdef Q_OS_LINUX
void sharpenThreadTimers()
{
    // The default 50 us of slack would blur replies paced to the microsecond.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
}
#else
void sharpenThreadTimers() {}
#endif

} // namespace devicesim
