#pragma once

// What vantyx-flash sets up before Qt starts (startup_unix.cpp, startup_win.cpp).
void prepareProcess();
