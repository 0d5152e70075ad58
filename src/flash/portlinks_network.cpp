#include "flash/portlinks.h"

#include "link/seriallink.h"
#include "remote/networklink.h"
#include "serial/remoteport.h"

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
