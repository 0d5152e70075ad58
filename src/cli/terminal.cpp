#include "cli/terminal.h"

#include <QtGlobal>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace terminal {

#ifdef Q_OS_WIN
namespace {

HANDLE consoleOf(std::FILE *stream)
{
    return GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
}

} // namespace

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
#else
bool canRedraw(std::FILE *stream)
{
    return ::isatty(fileno(stream));
}

int width(std::FILE *stream)
{
    winsize size = {};
    if (::ioctl(fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

int height(std::FILE *stream)
{
    winsize size = {};
    if (::ioctl(fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_row > 0)
        return size.ws_row;
    return 24;
}
#endif

QByteArray rewind(int lines)
{
    QByteArray out;
    if (lines > 0)
        out += "\x1b[" + QByteArray::number(lines) + "A";
    return out + "\r\x1b[J";
}

} // namespace terminal
