#pragma once

#include "flash/joblink.h"

#include <QSerialPort>

// A serial port on this machine.
class SerialLink : public JobLink
{
    Q_OBJECT

public:
    SerialLink(const QString &name, QObject *parent);

    void open() override;
    void close() override;
    qint64 read(char *data, qint64 maxSize) override { return m_port.read(data, maxSize); }
    QByteArray readAll() override { return m_port.readAll(); }
    qint64 bytesAvailable() const override { return m_port.bytesAvailable(); }
    void write(const char *data, qint64 size) override;
    void clearInput() override { m_port.clear(QSerialPort::Input); }
    bool isRemote() const override { return false; }

private:
    void onError(QSerialPort::SerialPortError error);

    QSerialPort m_port;
};
