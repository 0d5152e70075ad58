#pragma once

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

class QProgressBar;

// Lets the window's events through while the block loop waits inside a slot, and paints the
// bar at most every few tens of milliseconds meanwhile: QProgressBar::setValue() repaints at
// once, and a repaint per block costs more than the transfer. The bar paints freely again
// once this is gone.
class BlockLoopEvents
{
public:
    explicit BlockLoopEvents(QProgressBar *bar);
    ~BlockLoopEvents();
    BlockLoopEvents(const BlockLoopEvents &) = delete;
    BlockLoopEvents &operator=(const BlockLoopEvents &) = delete;

    // Processes pending events, unless the last pass was only a moment ago.
    void letThrough();
    // Sleeps in the event dispatcher until an event arrives or `ms` pass.
    void sleep(int ms);

private:
    void pass(QEventLoop::ProcessEventsFlags flags);

    QProgressBar *m_bar;
    QTimer m_wake; // only ends a sleep; nothing is connected to it
    QElapsedTimer m_sincePass;
    QElapsedTimer m_sincePaint;
    int m_paintedValue;
};
