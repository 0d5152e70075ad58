#pragma once

#include "core/protocol/hostrules.h"
#include "core/protocol/quenlark.h"

#include <QByteArray>
#include <QString>

// Why a download failed, in the words every record gives, whichever engine ran it: the window's
// boxes stay as they are, and its records say the same causes as vantyx-flash's and the bench's.
namespace quenlark::failure {

inline QString noBootloader(int limitMs)
{
    return QStringLiteral("no answer from the bootloader within %1").arg(limitText(limitMs));
}
inline QString noStartReply()
{
    return QStringLiteral("no OK to the start command within %1").arg(limitText(startReplyLimitMs));
}
inline QString noSizeReply()
{
    return QStringLiteral("no OK to the size word within %1").arg(limitText(sizeReplyLimitMs));
}
inline QString noBlockReply(int block)
{
    return QStringLiteral("no reply to block %1 within %2")
        .arg(block)
        .arg(limitText(blockReplyLimitMs));
}
inline QString badBlockReply(int block, const QByteArray &read)
{
    return QStringLiteral("the device answered block %1 with %2")
        .arg(block)
        .arg(describeRead(read));
}
inline QString endlessResends(int block)
{
    return QStringLiteral("the device asked for block %1 again %2 times in a row")
        .arg(block)
        .arg(maxResendsInARow);
}
inline QString portLost(const QString &reason)
{
    return QStringLiteral("lost the port: ") + reason;
}
inline QString imageUnreadable(const QString &why)
{
    return QStringLiteral("the image cannot be read: %1").arg(why);
}

} // namespace quenlark::failure
