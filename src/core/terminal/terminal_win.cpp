#include "core/terminal/terminal.h"

#include <io.h>
#include <windows.h>

namespace terminal {

namespace {

HANDLE consoleOf(std::FILE *stream)
{
    return GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
}

} // namespace

bool isTerminal(std::FILE *stream)
{
    return _isatty(_fileno(stream));
}

bool canRedraw(std::FILE *stream)
{
    if (!_isatty(_fileno(stream)))
        return false;
    // The console understands the cursor moves only when asked to.
    DWORD mode = 0;
    const HANDLE console = consoleOf(stream);
    return GetConsoleMode(console, &mode) &&
           SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

int width(std::FILE *stream)
{
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(consoleOf(stream), &info))
        return info.srWindow.Right - info.srWindow.Left + 1;
    return 80;
}

int height(std::FILE *stream)
{
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(consoleOf(stream), &info))
        return info.srWindow.Bottom - info.srWindow.Top + 1;
    return 24;
}

} // namespace terminal
