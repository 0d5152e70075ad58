#include "core/serial/portname.h"

#include "core/serial/remoteport.h"

#include <QDir>
#include <QFileInfo>

#include <sys/stat.h>

QString deviceNode(const QString &name)
{
    return name.startsWith(QLatin1Char('/')) ? name : QStringLiteral("/dev/") + name;
}

QString portKey(const QString &name)
{
    if (const std::optional<RemotePort> remote = RemotePort::parse(name))
        return remote->key();
    const QFileInfo node(deviceNode(name));
    const QString resolved = node.canonicalFilePath();
    return resolved.isEmpty() ? node.absoluteFilePath() : resolved;
}

bool mayBeListed(const QString &name)
{
    const QString node = QFileInfo(deviceNode(name)).canonicalFilePath();
    return !node.isEmpty() &&
           QFileInfo::exists(
               QStringLiteral("/sys/class/tty/%1/device").arg(QFileInfo(node).fileName()));
}

bool portsAreDeviceNodes()
{
    return true;
}

bool deviceNodeExists(const QString &name)
{
    return QFileInfo::exists(deviceNode(name));
}

QString nodeIdentity(const QString &name)
{
    struct stat info = {};
    if (::stat(deviceNode(name).toLocal8Bit().constData(), &info) != 0)
        return QString();
    // A node made anew (a pseudo-terminal's number taken again) has a new change time.
    return QStringLiteral("%1:%2:%3.%4")
        .arg(quint64(info.st_rdev))
        .arg(quint64(info.st_ino))
        .arg(qint64(info.st_ctim.tv_sec))
        .arg(qint64(info.st_ctim.tv_nsec));
}

QString serialDevices()
{
    // The ttys with a device behind them, which is what the port listing looks into.
    QString devices;
    const QDir ttys(QStringLiteral("/sys/class/tty"));
    const QStringList names = ttys.entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &name : names)
        if (QFileInfo::exists(ttys.filePath(name) + QStringLiteral("/device")))
            devices += name + QLatin1Char(' ');
    return devices.isEmpty() ? QStringLiteral("none") : devices;
}

std::filesystem::path systemPathOf(const QString &argument, int argc, char **argv)
{
    for (int i = argc - 1; i > 0; --i)
        if (QString::fromLocal8Bit(argv[i]) == argument)
            return std::filesystem::path(std::string(argv[i]));
    return std::filesystem::path(argument.toStdU16String());
}

QString stablePortName(const QString &name, const QString &byPathFolder)
{
    // The USB socket's name, whatever ttyUSBn the kernel gives the adapter plugged into it.
    const QString node = QFileInfo(deviceNode(name)).canonicalFilePath();
    const QDir folder(byPathFolder);
    const QStringList links = folder.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot);
    for (const QString &link : links)
        if (!node.isEmpty() && QFileInfo(folder.filePath(link)).canonicalFilePath() == node)
            return folder.filePath(link);
    return name;
}
