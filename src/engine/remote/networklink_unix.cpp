#include "engine/remote/networklink.h"

#include <sys/socket.h>

qint64 NetworkLink::sendStraight(const char *data, qint64 size)
{
    // As the serial link does: the socket's own write turns its write notifier on and off for
    // every block. A failure is left to the socket's own write, which reports it.
    return qMax<qint64>(0,
                        ::send(int(m_socket.socketDescriptor()), data, size_t(size), MSG_NOSIGNAL));
}
