#include "core/terminal/terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace terminal {

bool isTerminal(std::FILE *stream)
{
    return ::isatty(fileno(stream));
}

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

} // namespace terminal
