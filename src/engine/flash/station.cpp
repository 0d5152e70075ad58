#include "engine/flash/station.h"

#include "core/serial/portname.h"

QString Station::slotOf(const QString &port) const
{
    for (const Slot &slot : benchSlots)
        if (slot.port == port)
            return slot.name;
    // By the device: a by-path link, and the name the system lists, are the same port.
    const QString key = portKey(port);
    for (const Slot &slot : benchSlots)
        if (portKey(slot.port) == key)
            return slot.name;
    return QString();
}

QString Station::slotLabel(const QString &port) const
{
    if (!hasSlots())
        return QString();
    const QString name = slotOf(port);
    return name.isEmpty() ? QStringLiteral("unassigned") : name;
}

QString Station::ignoredBecause(const QString &usb) const
{
    if (adapters.isEmpty() || adapters.contains(usb.toLower()))
        return QString();
    return usb.isEmpty() ? QStringLiteral("not a USB adapter the station takes")
                         : QStringLiteral("%1 is not an allowed adapter").arg(usb.toLower());
}

QStringList Station::slotPorts() const
{
    QStringList ports;
    for (const Slot &slot : benchSlots)
        ports << slot.port;
    return ports;
}
