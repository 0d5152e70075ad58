#include "transport.h"

namespace devicesim {

std::unique_ptr<Transport> openPtyTransport(QString *, QString *error)
{
    *error = QStringLiteral("pseudo-terminals need a POSIX system; use a serial port");
    return nullptr;
}

bool ptysAvailable()
{
    return false;
}

} // namespace devicesim
