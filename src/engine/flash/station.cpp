#include "engine/flash/station.h"

#include "core/serial/portname.h"
#include "core/serial/remoteport.h"
#include "records/boardrecord.h"

Station::Verdict Station::judge(const QString &port, const QString &usb, bool named,
                                bool handsOff) const
{
    Verdict verdict;
    if (RemotePort::isRemote(port)) {
        // A network port always answers: a new board cannot be seen arriving there.
        verdict.watched = false;
        if (handsOff) {
            verdict.role = Role::Ignored;
            verdict.why = QStringLiteral("a port on another machine, whose boards cannot be seen "
                                         "arriving; flash it without --watch, or from "
                                         "vantyx-bench");
        }
        return verdict;
    }
    if (named)
        return verdict;
    if (!adapters.isEmpty() && !adapters.contains(usb.toLower())) {
        verdict.role = Role::Ignored;
        verdict.why = usb.isEmpty()
                          ? QStringLiteral("not a USB adapter the station takes")
                          : QStringLiteral("%1 is not an allowed adapter").arg(usb.toLower());
    } else if (hasSlots() && slotOf(port).isEmpty()) {
        verdict.role = Role::Unassigned;
    }
    return verdict;
}

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
    return name.isEmpty() ? unassignedSlot() : name;
}

QStringList Station::slotPorts() const
{
    QStringList ports;
    for (const Slot &slot : benchSlots)
        ports << slot.port;
    return ports;
}
