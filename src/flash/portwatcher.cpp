#include "flash/portwatcher.h"

#include "serial/portlist.h"
#include "serial/portname.h"

PortWatcher::PortWatcher(const QStringList &named) : m_named(named) {}

QSet<QString> PortWatcher::present() const
{
    QSet<QString> present;
    if (portsAreDeviceNodes() && !m_named.isEmpty()) {
        // A named port is there when its device node is, listed or not (a pseudo-terminal, a
        // link to a board's port): no need to ask the system for all of them twice a second.
        for (const QString &port : m_named)
            if (deviceNodeExists(port))
                present.insert(port);
        return present;
    }
    const QStringList listed = listedPortNames();
    for (const QString &port : listed)
        if (m_named.isEmpty() || m_named.contains(port))
            present.insert(port);
    return present;
}

QStringList PortWatcher::look(const std::function<bool(const QString &)> &busy)
{
    const QSet<QString> now = present();
    QStringList arrived;
    for (const QString &port : now) {
        // One swapped for another between two looks is a new arrival all the same.
        const bool isNew = !m_present.contains(port) ||
                           nodeIdentity(port) != m_flashedNode.value(port, nodeIdentity(port));
        if (isNew && !busy(port))
            arrived << port;
    }
    m_present = now;
    return arrived;
}

void PortWatcher::started(const QString &port)
{
    m_flashedNode[port] = nodeIdentity(port);
}
