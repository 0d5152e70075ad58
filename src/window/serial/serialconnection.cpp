#include "window/serial/serialconnection.h"

#include "core/serial/closedport.h"
#include "core/serial/linesettings.h"
#include "core/serial/porterror.h"

#include <QSerialPort>

SerialConnection::~SerialConnection()
{
    close();
}

bool SerialConnection::open(const QString &name, QObject *receiver, const char *slot)
{
    if (m_openCount > 0 && m_port) {
        close();
    } else if (m_port) {
        // A port whose open failed: already counted, but still ours to release.
        delete m_port;
        m_port = nullptr;
    }

    m_port = new QSerialPort(name);
    applyLineSettings(*m_port);
    m_port->open(QIODevice::ReadWrite);
    m_name = name;
    m_openFailure.clear();
    if (m_port->isOpen()) {
        ++m_openCount;
        // A port that went away would otherwise spin its notifier at a whole core.
        QObject::connect(m_port, &QSerialPort::errorOccurred, m_port,
                         [this](QSerialPort::SerialPortError error) {
                             if (!porterror::isFatal(error) || !m_port)
                                 return;
                             m_lossReason = porterror::reason(*m_port);
                             const QString message = porterror::lostText(m_name, m_lossReason);
                             close();
                             if (m_lost)
                                 m_lost(message);
                         });
    } else {
        --m_openCount;
        m_openFailure = porterror::openFailureText(name, m_port->errorString(),
                                                   porterror::openAdvice(name, m_port->error()));
    }
    QObject::connect(m_port, SIGNAL(readyRead()), receiver, slot);
    return m_port->isOpen();
}

void SerialConnection::close()
{
    if (!m_port)
        return;
    --m_openCount;
    m_port->close();
    m_port->disconnect();
    releaseClosedPort(m_port);
    m_port = nullptr;
}

void SerialConnection::clearInput()
{
    if (m_port)
        m_port->clear(QSerialPort::Input);
}

void SerialConnection::write(const char *data, qint64 size)
{
    if (m_port)
        m_port->write(data, size);
}
