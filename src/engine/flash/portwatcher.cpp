#include "engine/flash/portwatcher.h"

#include "core/serial/portlist.h"
#include "core/serial/portname.h"

PortWatcher::PortWatcher(const QStringList &named, Listed listed) : m_named(named), m_listed(listed)
{
}

QSet<QString> PortWatcher::present() const
{
    QSet<QString> present;
    // A named port is there when its device node is, listed or not (a pseudo-terminal, a link
    // to a board's port): no need to ask the system for all of them twice a second.
    const bool byNode = portsAreDeviceNodes();
    if (byNode)
        for (const QString &port : m_named)
            if (deviceNodeExists(port))
                present.insert(port);
    if (m_listed == Listed::None && (byNode || m_named.isEmpty()))
        return present;
    const QList<QSerialPortInfo> listed = recentListedPorts();
    for (const QSerialPortInfo &info : listed) {
        const QString port = info.portName();
        const bool named = m_named.contains(port);
        if ((named && !byNode) || m_listed == Listed::All ||
            (m_listed == Listed::Usb && info.hasVendorIdentifier()))
            present.insert(port);
    }
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
