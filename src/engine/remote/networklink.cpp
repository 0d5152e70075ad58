#include "engine/remote/networklink.h"

#include "core/protocol/failures.h"

#include <cstring>
#include <utility>

namespace {

// A connection that cannot be made, or a server that will not agree, is said within this.
constexpr int openLimitMs = 5000;

} // namespace

NetworkLink::NetworkLink(const RemotePort &remote, QObject *parent)
    : JobLink(parent), m_remote(remote), m_socket(this)
{
    if (remote.kind == RemotePort::Kind::Rfc2217)
        m_session.emplace();
    m_openLimit.setSingleShot(true);
    connect(&m_openLimit, &QTimer::timeout, this, [this] {
        fail(m_socket.state() == QAbstractSocket::ConnectedState
                 ? QStringLiteral("cannot use %1: the server did not agree on binary "
                                  "transmission and the COM-PORT-OPTION within %2 s")
                       .arg(m_remote.address())
                       .arg(openLimitMs / 1000)
                 : QStringLiteral("cannot reach %1: no connection within %2 s")
                       .arg(m_remote.address())
                       .arg(openLimitMs / 1000));
    });
}

void NetworkLink::open()
{
    connect(&m_socket, &QTcpSocket::connected, this, &NetworkLink::onConnected);
    connect(&m_socket, &QTcpSocket::readyRead, this, &NetworkLink::onSocketReadyRead);
    connect(&m_socket, &QTcpSocket::errorOccurred, this, &NetworkLink::onSocketError);
    m_openLimit.start(openLimitMs);
    m_socket.connectToHost(m_remote.host, m_remote.port);
}

void NetworkLink::close()
{
    m_closed = true;
    m_openLimit.stop();
    m_socket.disconnect(this);
    m_socket.abort();
}

void NetworkLink::fail(const QString &why)
{
    if (m_closed)
        return;
    close();
    emit lost(why);
}

void NetworkLink::onConnected()
{
    // Each block waits for its reply: no coalescing of small writes, and a dead peer found.
    m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_socket.setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    if (!m_session) {
        m_openLimit.stop();
        m_ready = true;
        emit opened();
        return;
    }
    m_socket.write(m_session->opening());
    m_socket.flush();
}

bool NetworkLink::takeFromServer(QByteArray *data)
{
    // A few bytes a reply: read through a buffer on the stack, appended where they belong.
    char bytes[512];
    // Not once the link is closed: a failure said while taking ends the reading too.
    for (qint64 count; !m_closed && (count = m_socket.read(bytes, sizeof bytes)) > 0;) {
        if (!m_session) {
            data->append(bytes, count);
            continue;
        }
        QByteArray reply;
        m_session->take(bytes, count, data, &reply);
        if (!reply.isEmpty() && !send(reply.constData(), reply.size()))
            return false;
        if (!m_session->problem().isEmpty()) {
            fail(QStringLiteral("cannot use %1: %2").arg(m_remote.address(), m_session->problem()));
            return false;
        }
    }
    return !m_closed;
}

void NetworkLink::onSocketReadyRead()
{
    if (!m_ready) {
        QByteArray before; // nothing of the device's is awaited before the first command
        if (!takeFromServer(&before) || !m_session || !m_session->ready())
            return;
        m_openLimit.stop();
        m_ready = true;
        emit opened();
        return;
    }
    const qsizetype had = m_in.size();
    if (!takeFromServer(&m_in) || m_in.size() == had)
        return;
    emit readyRead();
}

void NetworkLink::onSocketError(QAbstractSocket::SocketError error)
{
    const QString where = m_remote.address();
    if (!m_ready)
        fail(QStringLiteral("cannot reach %1: %2").arg(where, m_socket.errorString()));
    else if (error == QAbstractSocket::RemoteHostClosedError)
        fail(quenlark::failure::portLost(
            QStringLiteral("the server %1 closed the connection").arg(where)));
    else
        fail(quenlark::failure::portLost(
            QStringLiteral("the connection to %1 failed: %2").arg(where, m_socket.errorString())));
}

qint64 NetworkLink::read(char *data, qint64 maxSize)
{
    const qint64 count = qMin<qint64>(maxSize, m_in.size());
    std::memcpy(data, m_in.constData(), size_t(count));
    m_in.remove(0, count);
    return count;
}

QByteArray NetworkLink::readAll()
{
    return std::exchange(m_in, QByteArray());
}

void NetworkLink::write(const char *data, qint64 size)
{
    if (m_session) {
        m_out.clear();
        ComPortSession::escapeInto(m_out, data, size);
        data = m_out.constData();
        size = m_out.size();
    }
    const qint64 written = m_socket.bytesToWrite() == 0 ? sendStraight(data, size) : 0;
    if (written < size)
        send(data + written, size - written);
}

bool NetworkLink::send(const char *data, qint64 size)
{
    // A block waits for its reply, so what is unsent stays small with a server that reads; one
    // that never reads would have it grow without end.
    constexpr qint64 mostUnsent = 1 << 20;
    if (m_socket.bytesToWrite() + size > mostUnsent) {
        fail(quenlark::failure::portLost(
            QStringLiteral("the server %1 takes nothing of what is sent").arg(m_remote.address())));
        return false;
    }
    m_socket.write(data, size);
    m_socket.flush(); // out now, so that a reply's limit counts from here
    return true;
}

void NetworkLink::clearInput()
{
    // The server's commands in what came are still taken; the device's bytes are dropped,
    // here and, through the COM-PORT-OPTION, in what the server still holds.
    QByteArray dropped;
    if (m_socket.bytesAvailable() > 0 && !takeFromServer(&dropped))
        return;
    m_in.clear();
    if (m_session)
        m_socket.write(ComPortSession::purgeInput());
}
