#include "pseudoterminal.h"
#include "transport.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace devicesim {

namespace {

// To the nanosecond where the system takes it (Linux), else to the millisecond.
#ifdef Q_OS_LINUX
int waitFor(pollfd (&fds)[2], qint64 timeoutNs)
{
    const timespec timeout{time_t(timeoutNs / 1000000000), long(timeoutNs % 1000000000)};
    return ::ppoll(fds, 2, &timeout, nullptr);
}
#else
int waitFor(pollfd (&fds)[2], qint64 timeoutNs)
{
    return ::poll(fds, 2, int((timeoutNs + 999999) / 1000000));
}
#endif

class PtyTransport : public Transport
{
public:
    PtyTransport()
    {
        if (pipe(m_wake) != 0)
            m_wake[0] = m_wake[1] = -1;
        for (int fd : m_wake)
            fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    ~PtyTransport() override
    {
        for (int fd : m_wake)
            if (fd >= 0)
                ::close(fd);
    }

    qint64 read(char *buffer, qint64 size, qint64 timeoutNs) override
    {
        // To the microsecond: replies paced as on a real line must leave on time.
        pollfd fds[2] = {{m_pty.master, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (waitFor(fds, timeoutNs) <= 0)
            return 0;
        if (fds[1].revents & POLLIN) {
            char drain[64];
            [[maybe_unused]] ssize_t n = ::read(m_wake[0], drain, sizeof drain);
        }
        if (!(fds[0].revents & POLLIN))
            return 0;
        const ssize_t n = ::read(m_pty.master, buffer, size_t(size));
        return n > 0 ? n : 0;
    }

    void write(const QByteArray &bytes) override
    {
        // Non-blocking: with nobody on the line a reply is lost, as on a real wire.
        if (m_pty.isOpen()) [[maybe_unused]]
            ssize_t n = ::write(m_pty.master, bytes.constData(), size_t(bytes.size()));
    }

    void flush() override
    {
        if (!m_pty.isOpen())
            return;
        tcflush(m_pty.slave, TCIOFLUSH);
        tcflush(m_pty.master, TCIOFLUSH);
    }

    void hangUp() override { m_pty.hangUp(); }

    void wake() override
    {
        const char byte = 0;
        [[maybe_unused]] ssize_t n = ::write(m_wake[1], &byte, 1);
    }

    Pty m_pty;

private:
    int m_wake[2];
};

} // namespace

std::unique_ptr<Transport> openPtyTransport(QString *path, QString *error)
{
    auto transport = std::make_unique<PtyTransport>();
    if (!transport->m_pty.isOpen()) {
        *error = transport->m_pty.error;
        return nullptr;
    }
    *path = transport->m_pty.path;
    return transport;
}

bool ptysAvailable()
{
    return true;
}

} // namespace devicesim
