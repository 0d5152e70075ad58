#pragma once

#include <QString>

class JobLink;
class QObject;

// The link for a port name: a local serial port, or rfc2217:// and socket:// ports where this
// build reaches the network (portlinks_network.cpp; portlinks_local.cpp where it does not).
JobLink *linkForPort(const QString &name, QObject *parent);
// Whether this build reaches ports on other machines.
bool reachesRemotePorts();
