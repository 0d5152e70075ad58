#include "flash/portlinks.h"

#include "link/seriallink.h"

JobLink *linkForPort(const QString &name, QObject *parent)
{
    return new SerialLink(name, parent);
}

bool reachesRemotePorts()
{
    return false;
}
