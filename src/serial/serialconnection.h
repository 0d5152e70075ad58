#pragma once

#include <QList>
#include <QPointer>
#include <QString>

class QObject;
class QSerialPort;

// One window's link to the device: the port object and a count of opens and closes.
// Both windows own one each and never have them open at the same time.
class SerialConnection
{
public:
    SerialConnection() = default;
    ~SerialConnection();
    SerialConnection(const SerialConnection &) = delete;
    SerialConnection &operator=(const SerialConnection &) = delete;

    // Opens `name` at 115200 8N1 without flow control and connects the port's readyRead()
    // to `slot` of `receiver` (a SLOT() signature), whether or not the open succeeded.
    void open(const QString &name, QObject *receiver, const char *slot);

    // Safe inside a slot of the port's own readyRead(): the port is closed at once and
    // deleted only once control is back in the event loop.
    void close();

    QSerialPort *port() const { return m_port; }
    qint32 openCount() const { return m_openCount; }

private:
    QSerialPort *m_port = nullptr;
    qint32 m_openCount = 0;                 // successful opens minus failed opens minus closes
    QList<QPointer<QSerialPort>> m_closing; // closed ports awaiting their deferred delete
};
