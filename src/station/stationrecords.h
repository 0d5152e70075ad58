#pragma once

#include "station/stationoptions.h"

#include <QMutex>
#include <QObject>
#include <QStringList>
#include <QThread>

#include <memory>

class FlashRun;
class LineForwarder;
class StoreKeeper;

// A station's records beyond its JSON Lines files, alike in both programs: the station's
// SQLite store, kept after each line is written, caught up at the start with what the files
// hold that it does not (a crash between the two), and, with --store, the line's PostgreSQL,
// fed from the store's outbox by a forwarder of its own. The store is written on a thread of
// its own: a record's sync never holds up the ports, and the line, already on the disk, is
// read in at the next start should the program die before the store has it.
class StationRecords : public QObject
{
    Q_OBJECT

public:
    explicit StationRecords(QObject *parent = nullptr);
    ~StationRecords() override;

    // Opens the store and reads in `files` (the JSON Lines this station writes); starts
    // forwarding where `options` name a line store. False with why.
    bool open(const StationOptions &options, const QStringList &files, QString *why);
    // Keeps each record `run` writes.
    void follow(const FlashRun &run);
    bool forwarding() const { return m_forwarder != nullptr; }
    // Records waiting for the line's store, those still on their way to the station's store
    // among them.
    int unsent() const;
    // Waits until the store holds every record given to it.
    void drain();
    // Sends what waits before the program ends; what still waits.
    int sendWaiting();

signals:
    void unsentChanged(int count);
    // The line's store went away (`why`), or came back (empty).
    void serverChanged(const QString &why);
    // Said once: the JSON Lines line is there, the store's row is not (until the next start).
    void storeWriteFailed(const QString &why);

private:
    friend class StoreKeeper;
    // The keeper's count of the outbox, and the records given to it and not yet added.
    struct Waiting
    {
        int counted = 0;
        int given = 0;
    };

    QThread m_thread;
    StoreKeeper *m_keeper = nullptr; // on m_thread
    std::unique_ptr<LineForwarder> m_forwarder;
    mutable QMutex m_waitingLock;
    Waiting m_waiting;
    bool m_failureSaid = false;
};
