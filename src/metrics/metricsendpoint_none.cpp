#include "metrics/metricsendpoint.h"

struct MetricsEndpoint::Server
{
};

MetricsEndpoint::MetricsEndpoint(std::function<QByteArray()> text) : m_text(std::move(text)) {}

MetricsEndpoint::~MetricsEndpoint() = default;

bool MetricsEndpoint::available()
{
    return false;
}

bool MetricsEndpoint::isAddress(const QString &)
{
    return false;
}

bool MetricsEndpoint::listen(const QString &, quint16, QString *why)
{
    *why = QStringLiteral("this build has no metrics endpoint");
    return false;
}

quint16 MetricsEndpoint::port() const
{
    return 0;
}
