#include "station/processlimits.h"

// Windows has no per-process soft limit of handles to raise.
void raiseOpenFileLimit() {}
