#include "lines.h"

#include <QSerialPort>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#ifdef Q_OS_MACOS
#include <util.h>
#else
#include <pty.h>
#endif
#include <termios.h>
#include <unistd.h>
#endif

namespace devicesim {

#ifdef Q_OS_UNIX
namespace {

class PtyLine : public Line
{
public:
    PtyLine(int master, int slave) : m_master(master), m_slave(slave)
    {
        if (pipe(m_wake) != 0)
            m_wake[0] = m_wake[1] = -1;
    }
    ~PtyLine() override
    {
        for (int fd : {m_master, m_slave, m_wake[0], m_wake[1]})
            if (fd >= 0)
                ::close(fd);
    }

    qint64 read(char *buffer, qint64 size, qint64 timeoutNs) override
    {
        // To the microsecond: replies paced as on a real line must leave on time.
        pollfd fds[2] = {{m_master, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
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
        const ssize_t n = ::read(m_master, buffer, size_t(size));
        return n > 0 ? n : 0;
    }

    void write(const QByteArray &bytes) override
    {
        // Non-blocking: with nobody on the line a reply is lost, as on a real wire.
        [[maybe_unused]] ssize_t n = ::write(m_master, bytes.constData(), size_t(bytes.size()));
    }

    void flush() override
    {
        tcflush(m_slave, TCIOFLUSH);
        tcflush(m_master, TCIOFLUSH);
    }

    void wake() override
    {
        const char byte = 0;
        [[maybe_unused]] ssize_t n = ::write(m_wake[1], &byte, 1);
    }

private:
    int m_master;
    int m_slave;
    int m_wake[2];
};

} // namespace

std::unique_ptr<Line> openPtyLine(QString *slaveName, QString *error)
{
    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        *error = QStringLiteral("cannot create a pseudo-terminal: ") +
                 QString::fromLocal8Bit(std::strerror(errno));
        return nullptr;
    }
    // Raw before the host opens it, so nothing it sends is echoed or translated.
    termios tio{};
    tcgetattr(slave, &tio);
    cfmakeraw(&tio);
    cfsetispeed(&tio, B115200);
    cfsetospeed(&tio, B115200);
    tcsetattr(slave, TCSANOW, &tio);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    *slaveName = QString::fromLocal8Bit(name);
    return std::make_unique<PtyLine>(master, slave);
}
#endif

namespace {

class SerialLine : public Line
{
public:
    explicit SerialLine(const QString &name) : m_name(name), m_port(name) {}

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
        if (m_port.bytesAvailable() == 0 && !m_port.waitForReadyRead(timeoutMs))
            return 0;
        return qMax<qint64>(0, m_port.read(buffer, size));
    }

    void write(const QByteArray &bytes) override
    {
        m_port.write(bytes);
        m_port.waitForBytesWritten(100);
    }

    void flush() override { m_port.clear(); }

private:
    QString m_name;
    QSerialPort m_port;
};

} // namespace

std::unique_ptr<Line> openSerialLine(const QString &name, QString *error)
{
    auto line = std::make_unique<SerialLine>(name);
    if (!line->open(error))
        return nullptr;
    return line;
}

} // namespace devicesim
