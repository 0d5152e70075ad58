#pragma once

#include <QString>

#include <optional>

// A serial port on another machine, as scripted serial tools name it: rfc2217://HOST:PORT
// (telnet with the COM-PORT-OPTION, which sets the line) or socket://HOST:PORT (the bytes
// alone, the line set by the server).
struct RemotePort
{
    enum class Kind { Rfc2217, Socket };
    Kind kind = Kind::Socket;
    QString host;
    quint16 port = 0;

    // Whether `name` is meant as a remote port at all: it starts with one of the schemes.
    static bool isRemote(const QString &name);
    // Nullopt, and `why`, for a remote name that is malformed: no host, no port, a port out
    // of range, anything after the port.
    static std::optional<RemotePort> parse(const QString &name, QString *why = nullptr);
    // HOST:PORT, an IPv6 host in brackets, as the operator reads it.
    QString address() const;
    // The one spelling of this address, for telling two names of one port apart.
    QString key() const;
};
