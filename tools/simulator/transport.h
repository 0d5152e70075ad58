#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

namespace devicesim {

// Carries the device's bytes: a pseudo-terminal or a serial port. Used from one thread but for
// wake(), which any thread may call.
class Transport
{
public:
    virtual ~Transport() = default;
    // Waits up to timeoutNs for bytes; returns how many were read, 0 for none.
    virtual qint64 read(char *buffer, qint64 size, qint64 timeoutNs) = 0;
    virtual void write(const QByteArray &bytes) = 0;
    // Drops whatever waits on the line in either direction.
    virtual void flush() = 0;
    // Lets go of the line as an unplugged device would; nothing passes after it.
    virtual void hangUp() = 0;
    // Cuts a wait in read() short.
    virtual void wake() {}
};

// A new pseudo-terminal; the host opens `*path`. Null with a reason on failure, and always
// where the system has none (ptytransport_unix.cpp, ptytransport_win.cpp).
std::unique_ptr<Transport> openPtyTransport(QString *path, QString *error);
bool ptysAvailable();
// The calling thread's timers as sharp as the system makes them: paced replies are due to the
// microsecond (threadtiming_unix.cpp, threadtiming_win.cpp).
void sharpenThreadTimers();

// A serial port with the updater's line settings; it must be made on the thread that uses it.
std::unique_ptr<Transport> openSerialTransport(const QString &name, QString *error);

} // namespace devicesim
