#include "metrics/metricsendpoint.h"

#include <QHostAddress>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponse>
#include <QLoggingCategory>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <memory>

namespace {

// What one client may hold of the station, whatever it sends or leaves unread: a scraper asks
// for a few kilobytes every few seconds, and the boards must never want for memory or for
// descriptors.
constexpr int maxConnections = 64;
constexpr int idleMs = 10000;
constexpr qint64 maxRequestBytes = 16 * 1024;
constexpr qint64 maxUnreadOutput = 256 * 1024;

// The HTTP server's listening socket, which bounds the connections it hands over.
class BoundedServer : public QTcpServer
{
public:
    using QTcpServer::QTcpServer;

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto *socket = new QTcpSocket(this);
        socket->setSocketDescriptor(descriptor);
        if (m_open >= maxConnections) { // closed at once: the others go on being served
            socket->abort();
            socket->deleteLater();
            return;
        }
        ++m_open;
        connect(socket, &QObject::destroyed, this, [this] { --m_open; });
        bound(socket);
        addPendingConnection(socket);
    }

private:
    // Closed after a while without a byte either way, after a request longer than any GET, or
    // when its answers pile up unread; connected before the HTTP server's own reading, so that
    // this looks first.
    static void bound(QTcpSocket *socket)
    {
        socket->setReadBufferSize(maxRequestBytes + 1);
        auto *idle = new QTimer(socket);
        idle->setTimerType(Qt::PreciseTimer); // a coarse one may end a client's 10 s early
        idle->setSingleShot(true);
        idle->setInterval(idleMs);
        connect(idle, &QTimer::timeout, socket, [socket] { cut(socket); });
        idle->start();
        auto received = std::make_shared<qint64>(0); // since the last answer went out whole
        connect(socket, &QIODevice::readyRead, socket, [socket, idle, received] {
            idle->start();
            *received += socket->bytesAvailable();
            if (*received > maxRequestBytes || socket->bytesToWrite() > maxUnreadOutput)
                cut(socket);
        });
        connect(socket, &QIODevice::bytesWritten, socket, [socket, idle, received] {
            idle->start();
            if (socket->bytesToWrite() == 0)
                *received = 0;
        });
    }

    // Closed now, and nothing more read from it: the HTTP server's own reading, still to come
    // for these bytes, would find the socket closed and warn.
    static void cut(QTcpSocket *socket)
    {
        QObject::disconnect(socket, &QIODevice::readyRead, nullptr, nullptr);
        socket->abort();
    }

    int m_open = 0;
};

} // namespace

struct MetricsEndpoint::Server
{
    QHttpServer http;
    QTcpServer *socket = nullptr; // the HTTP server's, once bound
};

MetricsEndpoint::MetricsEndpoint(std::function<QByteArray()> text) : m_text(std::move(text)) {}

MetricsEndpoint::~MetricsEndpoint() = default;

bool MetricsEndpoint::available()
{
    return true;
}

bool MetricsEndpoint::isAddress(const QString &host)
{
    return !QHostAddress(host).isNull();
}

bool MetricsEndpoint::listen(const QString &host, quint16 port, QString *why)
{
    // What a client sends (a WebSocket upgrade, a request cut short) is no warning of ours.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.httpserver*.warning=false"));
    const QHostAddress address(host);
    auto server = std::make_unique<Server>();
    // Listening first on a socket of our own, so that a port in use is said as such.
    auto *socket = new BoundedServer(&server->http);
    if (!socket->listen(address, port)) {
        *why = socket->errorString();
        return false;
    }
    server->http.route(QStringLiteral("/metrics"), [this](const QHttpServerRequest &request) {
        const QByteArray type("text/plain; version=0.0.4; charset=utf-8");
        switch (request.method()) {
        case QHttpServerRequest::Method::Get:
            return QHttpServerResponse(type, m_text());
        case QHttpServerRequest::Method::Head:
            return QHttpServerResponse(type, QByteArray());
        default: {
            QHttpServerResponse refused(QHttpServerResponder::StatusCode::MethodNotAllowed);
            refused.setHeader(QByteArrayLiteral("Allow"), QByteArrayLiteral("GET, HEAD"));
            return refused;
        }
        }
    });
    server->http.bind(socket);
    server->socket = socket;
    m_server = std::move(server);
    return true;
}

quint16 MetricsEndpoint::port() const
{
    return m_server ? m_server->socket->serverPort() : 0;
}
