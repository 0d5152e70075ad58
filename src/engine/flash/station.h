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
    QStringList adapters;    // "vvvv:pppp" in lower-case hex; none: any adapter
    QString trustedKeys;     // the keys its jobs are checked against; "" none
    bool requireJob = false; // runs nothing but a signed job

    // What a port is to the station: the one decision both front ends and the watcher ask.
    enum class Role {
        Taken,      // flashed as boards come (a slot's, one named, one listed with no slots)
        Unassigned, // listed, and no slot names it: flashed only when asked
        Ignored,    // never opened: `why` says why
    };
    struct Verdict
    {
        Role role = Role::Taken;
        QString why;         // for Ignored
        bool watched = true; // its boards' arrivals can be seen (not a port on another machine)
    };
    // `port` as a shift sees it: `named` when the command line or a slot names it, else listed
    // by the system with the adapter `usb` ("vvvv:pppp", empty for none). `handsOff` when no
    // operator is there to flash by hand what cannot be watched (vantyx-flash --watch).
    Verdict judge(const QString &port, const QString &usb, bool named, bool handsOff) const;

    bool hasSlots() const { return !benchSlots.isEmpty(); }
    // The slot `port` is, by its device; empty when no slot names it.
    QString slotOf(const QString &port) const;
    // What a record and a row say of `port`'s slot: its name, unassignedSlot(), or nothing when
    // the station has no slots.
    QString slotLabel(const QString &port) const;
    QStringList slotPorts() const;
};
