#include "cli/startup.h"

void prepareProcess() {}
