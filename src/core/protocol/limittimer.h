#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

// One of the protocol's limits on the event loop, the same in both engines: passed() comes once
// more than the limit's whole milliseconds have gone since restart() (quenlark::isPast), never
// at the limit itself and never early, however early the system's timer fires.
class LimitTimer : public QObject
{
    Q_OBJECT

public:
    explicit LimitTimer(QObject *parent = nullptr);

    // Measures `limitMs` from now. A timer still due before the new limit is left running: it
    // finds the limit not yet passed and sets itself again, which costs less than restarting
    // it for every block.
    void restart(int limitMs);
    void stop();
    bool isActive() const { return m_timer.isActive(); }
    // Since the last restart().
    qint64 elapsedMs() const { return m_since.elapsed(); }
    qint64 elapsedNs() const { return m_since.nsecsElapsed(); }

signals:
    void passed();

private:
    void arm(int ms);
    void onTimeout();

    QTimer m_timer;
    QElapsedTimer m_since;
    QElapsedTimer m_clock; // when the timer is due, on one clock for every restart
    qint64 m_dueAtMs = 0;
    int m_limitMs = 0;
};
