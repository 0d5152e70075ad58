#pragma once

#include "core/protocol/quenlark.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// The host's decisions on what the device says, shared by the window and vantyx-flash, in the
// window's own terms: okCount, the "OK" replies since the start command, says where a
// download stands and which limit runs.
//   okCount 0  start command out, its "OK" awaited     startReplyLimitMs (the start watchdog)
//   okCount 1  size word out, its "OK" awaited         sizeReplyLimitMs
//   okCount 2  blocks flowing, each read the reply     blockReplyLimitMs, per block
//              to the block in flight
//   okCount 3  deaf: an "OK" came during the blocks; nothing more is taken, and the block in
//              flight ends by its limit
namespace quenlark {

enum class Read {
    Ignored, // not "OK" before the blocks (an echo, noise, half an "OK"), or anything once deaf
    SendSizeWord, // the start command's "OK"
    StartBlocks,  // the size word's "OK"
    Deafened,     // an "OK" while the blocks flow
    BlockReply,   // the reply to the block in flight: see blockReplyKind()
};

// One read after the start command: what it means, with okCount moved on.
inline Read takeRead(const QByteArray &read, qint32 &okCount)
{
    if (isOkReply(read)) {
        switch (okCount++) {
        case 0:
            return Read::SendSizeWord;
        case 1:
            return Read::StartBlocks;
        case 2:
            return Read::Deafened;
        default:
            return Read::Ignored;
        }
    }
    return okCount == 2 ? Read::BlockReply : Read::Ignored;
}

// Writes the start command on `line` (anything with clearInput() and write(data, size)), after
// dropping what the line holds unread: whatever came before (a late second "OK" to the
// wake-up) is no answer to it.
template <typename Line> void sendStartCommand(Line &line)
{
    line.clearInput();
    line.write(startCommand, qint64(sizeof startCommand));
}

// The device's requests to send the block in flight again.
class Resends
{
public:
    // The block was taken: the count in a row starts again.
    void accepted() { m_inARow = 0; }
    // A 0x28. True when the block goes out again; false once the device has asked
    // maxResendsInARow times running, and the download fails.
    bool sendAgain()
    {
        if (++m_inARow >= maxResendsInARow)
            return false;
        ++m_sent;
        return true;
    }
    int sent() const { return m_sent; } // blocks that went out again, in all

private:
    int m_inARow = 0;
    int m_sent = 0;
};

// At most this many bytes of an unexpected read are shown, then how many there were.
inline constexpr int shownReadBytes = 8;

// "1 byte: 51", "14 bytes: 4f 4b 4f 4b 4f 4b 4f 4b ..." (a flood stays one short line).
inline QString describeRead(const QByteArray &read)
{
    QString text = read.size() == 1 ? QStringLiteral("1 byte: ")
                                    : QStringLiteral("%1 bytes: ").arg(read.size());
    text += QString::fromLatin1(read.left(shownReadBytes).toHex(' '));
    if (read.size() > shownReadBytes)
        text += QStringLiteral(" ...");
    return text;
}

} // namespace quenlark
