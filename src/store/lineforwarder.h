#pragma once

#include "store/linestore.h"

#include <QObject>
#include <QString>
#include <QThread>

#include <atomic>

class ForwardingWorker;
class QSqlDatabase;

// Sends a batch of the station store's outbox to the line's store and takes it off the
// outbox: how many were sent, 0 when none waits, or -1 with why (`lineFailed` when the line's
// store refused or went away).
int sendBatch(QSqlDatabase station, QSqlDatabase line, QString *why, bool *lineFailed);

// Takes the station's records to the line's store, from the station store's outbox, at least
// once and never twice (each inserted by its ID, then taken off the outbox), on a thread of its
// own: a server away, slow or back never holds a board up. The station flashes on meanwhile,
// and the outbox catches up when the server is back.
class LineForwarder : public QObject
{
    Q_OBJECT

public:
    LineForwarder(const QString &stationStore, const LineStoreUrl &url, QObject *parent = nullptr);
    ~LineForwarder() override;

    void start();
    // A record was added: sent soon, not at the next round.
    void nudge();
    // What waits in the outbox, as last counted.
    int unsent() const { return m_unsent; }
    // Sends what waits now, waiting for it (at most the server's connect time when it is
    // away); what still waits.
    int sendNow();

signals:
    void unsentChanged(int count);
    // The server went away, or came back (`why` empty); said once for each change.
    void serverChanged(const QString &why);

private:
    QThread m_thread;
    ForwardingWorker *m_worker = nullptr;
    std::atomic<int> m_unsent{0};
};
