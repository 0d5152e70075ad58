#pragma once

#include "engine/link/joblink.h"

#include <QSerialPort>

// A serial port on this machine.
class SerialLink : public JobLink
{
    Q_OBJECT

public:
    SerialLink(const QString &name, QObject *parent);
    ~SerialLink() override;

    void open() override;
    void close() override;
    qint64 read(char *data, qint64 maxSize) override { return m_port->read(data, maxSize); }
    QByteArray readAll() override { return m_port->readAll(); }
    qint64 bytesAvailable() const override { return m_port->bytesAvailable(); }
    void write(const char *data, qint64 size) override;
    void clearInput() override { m_port->clear(QSerialPort::Input); }
    bool isRemote() const override { return false; }

private:
    void onError(QSerialPort::SerialPortError error);
    // What the system offers beyond QSerialPort (seriallink_unix.cpp, seriallink_win.cpp).
    // USB serial adapters hold a short reply until a latency timer runs out (16 ms on the most
    // common ones), which would add that to every block: where the driver offers low latency,
    // ask for it. A driver that says no is no error.
    void askForLowLatency();
    // Writes what the line takes now, straight, where nothing waits before it; returns how
    // much (0 where the system has no such path).
    qint64 writeStraight(const char *data, qint64 size);

    QSerialPort *m_port; // released, not deleted, with the link: see closedport.h
};
