#include "cli/reporttext.h"

#include "core/serial/portname.h"

#include <QFileInfo>

QString adapterLatencyFix(const QString &port)
{
    const QString node = QFileInfo(deviceNode(port)).canonicalFilePath();
    const QString name = QFileInfo(node.isEmpty() ? port : node).fileName();
    return name.startsWith(QStringLiteral("ttyUSB"))
               ? QStringLiteral("echo 1 > /sys/bus/usb-serial/devices/%1/latency_timer").arg(name)
               : QStringLiteral("set its driver's latency_timer to 1 ms");
}
