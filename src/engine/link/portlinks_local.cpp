#include "engine/link/portlinks.h"

#include "engine/link/seriallink.h"

JobLink *linkForPort(const QString &name, QObject *parent)
{
    return new SerialLink(name, parent);
}

bool reachesRemotePorts()
{
    return false;
}
