#include "cli/reporttext.h"

QString adapterLatencyFix(const QString &)
{
    return QStringLiteral("set Latency Timer to 1 ms in the port's Properties, Port Settings, "
                          "Advanced");
}
