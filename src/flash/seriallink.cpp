#include "flash/seriallink.h"

#include "serial/linesettings.h"
#include "serial/porterror.h"

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <linux/serial.h>
#include <sys/ioctl.h>
#endif

namespace {

// USB serial adapters hold a short reply until a latency timer runs out (16 ms on the most
// common ones), which would add that to every block. Where the driver offers low latency,
// ask for it; a pseudo-terminal or a driver without it says no, and that is no error.
void askForLowLatency([[maybe_unused]] QSerialPort &port)
{
#ifdef Q_OS_LINUX
    serial_struct serial = {};
    if (::ioctl(int(port.handle()), TIOCGSERIAL, &serial) == 0 &&
        !(serial.flags & ASYNC_LOW_LATENCY)) {
        serial.flags |= ASYNC_LOW_LATENCY;
        ::ioctl(int(port.handle()), TIOCSSERIAL, &serial);
    }
#endif
}

} // namespace

SerialLink::SerialLink(const QString &name, QObject *parent) : JobLink(parent), m_port(name) {}

void SerialLink::open()
{
    applyLineSettings(m_port);
    if (!m_port.open(QIODevice::ReadWrite)) {
        const QString advice = porterror::openAdvice(m_port.portName(), m_port.error());
        emit lost(QStringLiteral("cannot open the port: ") + m_port.errorString() +
                  (advice.isEmpty() ? QString() : QStringLiteral(". ") + advice));
        return;
    }
    askForLowLatency(m_port);
    connect(&m_port, &QSerialPort::readyRead, this, &JobLink::readyRead);
    connect(&m_port, &QSerialPort::errorOccurred, this, &SerialLink::onError);
    emit opened();
}

void SerialLink::close()
{
    m_port.disconnect(this);
    m_port.close();
}

void SerialLink::onError(QSerialPort::SerialPortError error)
{
    if (porterror::isFatal(error))
        emit lost(QStringLiteral("lost the port: ") + porterror::reason(m_port));
}

void SerialLink::write(const char *data, qint64 size)
{
    qint64 written = 0;
#ifdef Q_OS_UNIX
    // Where nothing waits before it, straight to the line: QSerialPort's own write switches
    // its write notifier on and off for each block, which 16 boards at 115200 pay for with a
    // fifth more CPU (0.036-0.037 against 0.029-0.030 s a second, flashloader_bench --only
    // bench). Elsewhere, and for what the line did not take, QSerialPort's path, the one
    // Windows uses.
    if (m_port.bytesToWrite() == 0)
        written = qMax<qint64>(0, ::write(int(m_port.handle()), data, size_t(size)));
#endif
    if (written < size) {
        m_port.write(data + written, size - written);
        m_port.flush(); // out now, so that a reply's limit counts from here
    }
}
