#pragma once

// Raises this process's soft limit of open files to its hard limit, as long-running servers do:
// a station holds a descriptor for every board, its lock file, its logs and every client of its
// metrics, and none of them may starve the boards (processlimits_unix.cpp,
// processlimits_win.cpp).
void raiseOpenFileLimit();
