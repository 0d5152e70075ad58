#pragma once

#include <QString>

#include <functional>

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
    // Returns whether it opened; openFailure() then says why not, for the operator.
    bool open(const QString &name, QObject *receiver, const char *slot);
    QString openFailure() const { return m_openFailure; }

    // Called when the open port goes away (an adapter pulled out, a read or write that
    // fails), once the port is closed, with what the operator should read about it.
    void onLost(std::function<void(const QString &message)> lost) { m_lost = std::move(lost); }
    // Why the port was lost last, in the system's words, for a record.
    QString lossReason() const { return m_lossReason; }

    // Safe inside a slot of the port's own signals: the port is closed at once and its object
    // let go (see closedport.h).
    void close();

    // What the host rules ask of a line, on the port while there is one: unread input
    // dropped, bytes written.
    void clearInput();
    void write(const char *data, qint64 size);

    QSerialPort *port() const { return m_port; }
    qint32 openCount() const { return m_openCount; }

private:
    QSerialPort *m_port = nullptr;
    qint32 m_openCount = 0; // successful opens minus failed opens minus closes
    QString m_name;
    QString m_openFailure;
    std::function<void(const QString &)> m_lost;
    QString m_lossReason;
};
