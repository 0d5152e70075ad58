#include "core/serial/portname.h"

#include "core/serial/remoteport.h"

QString deviceNode(const QString &name)
{
    return name;
}

QString portKey(const QString &name)
{
    if (const std::optional<RemotePort> remote = RemotePort::parse(name))
        return remote->key();
    QString key = name.toUpper();
    if (key.startsWith(QStringLiteral("\\\\.\\")))
        key.remove(0, 4);
    return key;
}

bool mayBeListed(const QString &)
{
    return true;
}

bool portsAreDeviceNodes()
{
    return false;
}

bool deviceNodeExists(const QString &)
{
    return false;
}

QString nodeIdentity(const QString &)
{
    return QString();
}

QString serialDevices()
{
    return QString(); // the listing itself is the cheap way there
}

std::filesystem::path systemPathOf(const QString &argument, int, char **)
{
    // The arguments arrive as UTF-16 there: the text is the name.
    return std::filesystem::path(argument.toStdU16String());
}

QString stablePortName(const QString &name, const QString &)
{
    return name; // a COM name stays with its adapter's place, as Windows assigns it
}
