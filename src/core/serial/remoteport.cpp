#include "core/serial/remoteport.h"

namespace {

constexpr QLatin1StringView rfc2217Scheme("rfc2217://");
constexpr QLatin1StringView socketScheme("socket://");

} // namespace

bool RemotePort::isRemote(const QString &name)
{
    return name.startsWith(rfc2217Scheme, Qt::CaseInsensitive) ||
           name.startsWith(socketScheme, Qt::CaseInsensitive);
}

std::optional<RemotePort> RemotePort::parse(const QString &name, QString *why)
{
    auto refuse = [&](const QString &reason) {
        if (why)
            *why = reason;
        return std::nullopt;
    };
    RemotePort remote;
    QStringView rest(name);
    if (name.startsWith(rfc2217Scheme, Qt::CaseInsensitive)) {
        remote.kind = Kind::Rfc2217;
        rest = rest.mid(rfc2217Scheme.size());
    } else if (name.startsWith(socketScheme, Qt::CaseInsensitive)) {
        rest = rest.mid(socketScheme.size());
    } else {
        return refuse(QStringLiteral("not rfc2217:// or socket://"));
    }

    // HOST:PORT, an IPv6 address in brackets.
    qsizetype colon = -1;
    if (rest.startsWith(QLatin1Char('['))) {
        const qsizetype close = rest.indexOf(QLatin1Char(']'));
        if (close < 0)
            return refuse(QStringLiteral("no ] after the IPv6 address"));
        remote.host = rest.mid(1, close - 1).toString();
        if (!remote.host.contains(QLatin1Char(':')))
            return refuse(QStringLiteral("not an IPv6 address in [ ]"));
        colon = close + 1 < rest.size() && rest.at(close + 1) == QLatin1Char(':') ? close + 1 : -2;
    } else {
        colon = rest.lastIndexOf(QLatin1Char(':'));
        remote.host = rest.left(qMax<qsizetype>(colon, 0)).toString();
    }
    if (colon < 0 || remote.host.isEmpty())
        return refuse(QStringLiteral("give HOST:PORT"));
    bool ok = false;
    const QStringView number = rest.mid(colon + 1);
    const uint port = number.toUInt(&ok);
    if (!ok || port == 0 || port > 65535 || !number.front().isDigit())
        return refuse(QStringLiteral("the port number must be from 1 to 65535"));
    remote.port = quint16(port);
    return remote;
}

QString RemotePort::address() const
{
    const QString bracketed =
        host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    return bracketed + QLatin1Char(':') + QString::number(port);
}

QString RemotePort::key() const
{
    // Both kinds reach the same server's port: one key for the address alone.
    return address().toLower();
}
