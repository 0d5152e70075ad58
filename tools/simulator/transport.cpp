#include "transport.h"

#include "pseudoterminal.h"

#include <QSerialPort>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace devicesim {

#ifdef Q_OS_UNIX
namespace {

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
#ifdef Q_OS_LINUX
        const timespec timeout{time_t(timeoutNs / 1000000000), long(timeoutNs % 1000000000)};
        if (::ppoll(fds, 2, &timeout, nullptr) <= 0)
            return 0;
#else
        if (::poll(fds, 2, int((timeoutNs + 999999) / 1000000)) <= 0)
            return 0;
#endif
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

    void hangUp() override
    {
        m_pty.hangUp();
    }

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
#endif

namespace {

class SerialTransport : public Transport
{
public:
    explicit SerialTransport(const QString &name) : m_name(name), m_port(name) {}

    bool open(QString *error)
    {
        m_port.setBaudRate(QSerialPort::Baud115200, QSerialPort::AllDirections);
        m_port.setDataBits(QSerialPort::Data8);
        m_port.setParity(QSerialPort::NoParity);
        m_port.setStopBits(QSerialPort::OneStop);
        m_port.setFlowControl(QSerialPort::NoFlowControl);
        if (m_port.open(QIODevice::ReadWrite))
            return true;
        *error =
            QStringLiteral("cannot open ") + m_name + QStringLiteral(": ") + m_port.errorString();
        return false;
    }

    qint64 read(char *buffer, qint64 size, qint64 timeoutNs) override
    {
        // No wake-up pipe for a serial port: short waits keep stop() and inject() prompt.
        const int timeoutMs = int(qBound(qint64(0), (timeoutNs + 999999) / 1000000, qint64(10)));
        if (!m_port.isOpen() ||
            (m_port.bytesAvailable() == 0 && !m_port.waitForReadyRead(timeoutMs)))
            return 0;
        return qMax<qint64>(0, m_port.read(buffer, size));
    }

    void write(const QByteArray &bytes) override
    {
        if (!m_port.isOpen())
            return;
        m_port.write(bytes);
        m_port.waitForBytesWritten(100);
    }

    void flush() override { m_port.clear(); }

    void hangUp() override { m_port.close(); }

private:
    QString m_name;
    QSerialPort m_port;
};

} // namespace

std::unique_ptr<Transport> openSerialTransport(const QString &name, QString *error)
{
    auto transport = std::make_unique<SerialTransport>(name);
    if (!transport->open(error))
        return nullptr;
    return transport;
}

} // namespace devicesim
