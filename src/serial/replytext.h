#pragma once

#include <QByteArray>
#include <QString>

// The device's replies have no framing: one read is one reply, taken as text up to the first NUL.
inline QString replyText(const QByteArray &data)
{
    const qsizetype nul = data.indexOf('\0');
    return QString::fromUtf8(nul < 0 ? data : data.left(nul));
}

inline bool isOkReply(const QByteArray &data)
{
    return replyText(data) == QLatin1String("OK");
}
