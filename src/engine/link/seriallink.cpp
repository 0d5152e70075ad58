#include "engine/link/seriallink.h"

#include "core/protocol/failures.h"
#include "core/serial/closedport.h"
#include "core/serial/linesettings.h"
#include "core/serial/porterror.h"

SerialLink::SerialLink(const QString &name, QObject *parent)
    : JobLink(parent), m_port(new QSerialPort(name))
{
}

SerialLink::~SerialLink()
{
    m_port->disconnect(this);
    if (m_port->isOpen())
        m_port->close();
    releaseClosedPort(m_port);
}

void SerialLink::open()
{
    applyLineSettings(*m_port);
    if (!m_port->open(QIODevice::ReadWrite)) {
        const QString advice = porterror::openAdvice(m_port->portName(), m_port->error());
        emit lost(QStringLiteral("cannot open the port: ") + m_port->errorString() +
                  (advice.isEmpty() ? QString() : QStringLiteral(". ") + advice));
        return;
    }
    askForLowLatency();
    connect(m_port, &QSerialPort::readyRead, this, &JobLink::readyRead);
    connect(m_port, &QSerialPort::errorOccurred, this, &SerialLink::onError);
    emit opened();
}

void SerialLink::close()
{
    m_port->disconnect(this);
    m_port->close();
}

void SerialLink::onError(QSerialPort::SerialPortError error)
{
    if (porterror::isFatal(error))
        emit lost(quenlark::failure::portLost(porterror::reason(*m_port)));
}

void SerialLink::write(const char *data, qint64 size)
{
    const qint64 written = m_port->bytesToWrite() == 0 ? writeStraight(data, size) : 0;
    if (written < size) {
        m_port->write(data + written, size - written);
        m_port->flush(); // out now, so that a reply's limit counts from here
    }
}
