#pragma once

#include <QObject>

class QSocketNotifier;

// Turns Ctrl-C and a request to terminate (SIGINT and SIGTERM; the console's control events on
// Windows) into a signal on the event loop, where it is safe to act on.
class Interrupt : public QObject
{
    Q_OBJECT

public:
    explicit Interrupt(QObject *parent = nullptr);
    ~Interrupt() override;

signals:
    void requested();

private:
    QSocketNotifier *m_notifier = nullptr;
};
