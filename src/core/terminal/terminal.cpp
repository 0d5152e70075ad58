#include "core/terminal/terminal.h"

#include <QCoreApplication>

namespace terminal {

QByteArray rewind(int lines)
{
    QByteArray out;
    if (lines > 0)
        out += "\x1b[" + QByteArray::number(lines) + "A";
    return out + "\r\x1b[J";
}

int complain(const QString &why, int status)
{
    std::fprintf(stderr, "%s: %s\n", qPrintable(QCoreApplication::applicationName()),
                 qPrintable(why));
    return status;
}

int complainOfUsage(const QString &why)
{
    return complain(why + QStringLiteral(" (try --help)"), 2);
}

} // namespace terminal
