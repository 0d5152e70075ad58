#include "flash/joblink.h"

#include "flash/seriallink.h"

#ifdef FLASHLOADER_REMOTE_PORTS
#include "remote/networklink.h"
#include "remote/remoteport.h"
#endif

JobLink *JobLink::forPort(const QString &name, QObject *parent)
{
#ifdef FLASHLOADER_REMOTE_PORTS
    if (const std::optional<RemotePort> remote = RemotePort::parse(name))
        return new NetworkLink(*remote, parent);
#endif
    return new SerialLink(name, parent);
}

bool JobLink::reachesRemotePorts()
{
#ifdef FLASHLOADER_REMOTE_PORTS
    return true;
#else
    return false;
#endif
}
