#include "core/terminal/terminal.h"

namespace terminal {

QByteArray rewind(int lines)
{
    QByteArray out;
    if (lines > 0)
        out += "\x1b[" + QByteArray::number(lines) + "A";
    return out + "\r\x1b[J";
}

} // namespace terminal
