#pragma once

#include "core/serial/remoteport.h"
#include "engine/link/joblink.h"
#include "engine/remote/comportsession.h"

#include <QTcpSocket>
#include <QTimer>

#include <optional>

// A serial port on another machine, through a server such as ser2net: raw TCP, or telnet with
// the COM-PORT-OPTION, which sets the line and escapes 0xFF.
class NetworkLink : public JobLink
{
    Q_OBJECT

public:
    NetworkLink(const RemotePort &remote, QObject *parent);

    void open() override;
    void close() override;
    qint64 read(char *data, qint64 maxSize) override;
    QByteArray readAll() override;
    qint64 bytesAvailable() const override { return m_in.size(); }
    void write(const char *data, qint64 size) override;
    void clearInput() override;
    bool isRemote() const override { return true; }

private:
    void onConnected();
    void onSocketReadyRead();
    void onSocketError(QAbstractSocket::SocketError error);
    // The server's bytes through the session; the device's are left in `data`. False once the
    // link is closed, by a failure said while taking or before.
    bool takeFromServer(QByteArray *data);
    // Queues `data` for the server; false, and the link lost, when the server has left more
    // than a bound unread.
    bool send(const char *data, qint64 size);
    void fail(const QString &why);
    // Sends what the socket takes now, straight, where nothing waits before it; returns how
    // much (networklink_unix.cpp, networklink_win.cpp).
    qint64 sendStraight(const char *data, qint64 size);

    RemotePort m_remote;
    QTcpSocket m_socket;
    std::optional<ComPortSession> m_session; // rfc2217:// only
    QTimer m_openLimit;
    bool m_ready = false;
    bool m_closed = false;
    QByteArray m_in;  // the device's bytes, not yet read
    QByteArray m_out; // escaped bytes on their way
};
