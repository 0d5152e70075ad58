#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

// The line a job talks to its board on, whatever carries it: a local serial port or a serial
// port on another machine. The job does not know which it has.
class JobLink : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Starts opening: opened() once the board may be spoken to, or lost() with why not.
    virtual void open() = 0;
    // Nothing more is read or written, and no signal comes; safe inside the link's signals.
    virtual void close() = 0;
    virtual qint64 read(char *data, qint64 maxSize) = 0;
    virtual QByteArray readAll() = 0;
    virtual qint64 bytesAvailable() const = 0;
    // Out now, whole, in order: what the line does not take at once follows as it can.
    virtual void write(const char *data, qint64 size) = 0;
    // Drops what the board sent and nobody read yet.
    virtual void clearInput() = 0;
    // Replies held back beyond the wire time come from the network and its server, not from
    // an adapter on this machine.
    virtual bool isRemote() const = 0;

signals:
    void opened();
    void readyRead();
    // The port would not open, or went away: a whole message for the operator.
    void lost(const QString &why);
};
