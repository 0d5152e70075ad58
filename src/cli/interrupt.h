#pragma once

#include <QObject>

class QSocketNotifier;

// Turns Ctrl-C, a request to terminate and a hang-up (SIGINT, SIGTERM, SIGHUP; the console's
// control events on Windows) into a signal on the event loop, where it is safe to act on.
// While it lives, a write to a reader that went away fails instead of ending the process.
class Interrupt : public QObject
{
    Q_OBJECT

public:
    explicit Interrupt(QObject *parent = nullptr);
    ~Interrupt() override;

    // From any thread: asks the live Interrupt for the end; false when there is none. With
    // `waitForTheEnd`, returns only once release() came or `graceMs` passed: Windows ends the
    // process as soon as its handler for a closed console, a log-off or a shut-down returns.
    static bool requestFromAnyThread(bool waitForTheEnd, int graceMs);
    // The run has said all it had to (summary, report): a waiting request may return.
    void release();

signals:
    void requested();

private:
    // The system's part (interrupt_unix.cpp, interrupt_win.cpp).
    void installHandlers();
    void removeHandlers();

    QSocketNotifier *m_notifier = nullptr; // Unix: the signals' pipe
};
