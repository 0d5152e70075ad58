#include "cli/interrupt.h"

#include <windows.h>

namespace {

// The system allows a handler for these events 5 s before it ends the process.
constexpr int closeGraceMs = 4500;

BOOL WINAPI onConsoleEvent(DWORD event)
{
    const bool closing =
        event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
    return Interrupt::requestFromAnyThread(closing, closeGraceMs) ? TRUE : FALSE;
}

} // namespace

void Interrupt::installHandlers()
{
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

void Interrupt::removeHandlers()
{
    SetConsoleCtrlHandler(onConsoleEvent, FALSE);
}
