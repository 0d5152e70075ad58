#include "metrics/metricsendpoint.h"

#include <QHostAddress>
#include <QHttpServer>
#include <QHttpServerResponse>
#include <QTcpServer>

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
    const QHostAddress address(host);
    auto server = std::make_unique<Server>();
    // Listening first on a socket of our own, so that a port in use is said as such.
    auto *socket = new QTcpServer(&server->http);
    if (!socket->listen(address, port)) {
        *why = socket->errorString();
        return false;
    }
    server->http.route(QStringLiteral("/metrics"), [this] {
        return QHttpServerResponse(QByteArrayLiteral("text/plain; version=0.0.4; charset=utf-8"),
                                   m_text());
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
