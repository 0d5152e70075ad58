#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

// Serves /metrics over HTTP on one address, where this build has Qt's HTTP Server
// (metricsendpoint_http.cpp); elsewhere it has none (metricsendpoint_none.cpp).
class MetricsEndpoint
{
public:
    explicit MetricsEndpoint(std::function<QByteArray()> text);
    ~MetricsEndpoint();

    static bool available();
    // Whether `host` is an address to listen on (an IPv4 or IPv6 address).
    static bool isAddress(const QString &host);
    // Listens on `host`:`port` (0: any free one); false with the reason.
    bool listen(const QString &host, quint16 port, QString *why);
    quint16 port() const;

private:
    struct Server;
    std::function<QByteArray()> m_text;
    std::unique_ptr<Server> m_server;
};
