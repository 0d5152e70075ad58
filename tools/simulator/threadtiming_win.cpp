#include "transport.h"

namespace devicesim {

// Windows' waits are as sharp as its timer resolution, which the process does not change.
void sharpenThreadTimers() {}

} // namespace devicesim
