#include "transport.h"

#include <QSerialPort>

namespace devicesim {

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
