#include "engine/link/portlinks.h"

#include "core/serial/remoteport.h"
#include "engine/link/seriallink.h"
#include "engine/remote/networklink.h"

JobLink *linkForPort(const QString &name, QObject *parent)
{
    if (const std::optional<RemotePort> remote = RemotePort::parse(name))
        return new NetworkLink(*remote, parent);
    return new SerialLink(name, parent);
}

bool reachesRemotePorts()
{
    return true;
}
