#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// A station's bench: the name of each position and the port it is, and the USB adapters the
// station takes. Ports are matched by the device they are, so that a by-path name and the
// ttyUSBn it points to today are one slot.
struct Station
{
    struct Slot
    {
        QString name;
        QString port;
    };
    QList<Slot> benchSlots;
    QStringList adapters; // "vvvv:pppp" in lower-case hex; none: any adapter

    bool hasSlots() const { return !benchSlots.isEmpty(); }
    // The slot `port` is, by its device; empty when no slot names it.
    QString slotOf(const QString &port) const;
    // What a record and a row say of `port`'s slot: its name, "unassigned", or nothing when
    // the station has no slots.
    QString slotLabel(const QString &port) const;
    // Why a listed port with the adapter `usb` ("vvvv:pppp", empty for none) is not taken;
    // empty when it is.
    QString ignoredBecause(const QString &usb) const;
    QStringList slotPorts() const;
};
