#pragma once

#include "core/serial/linesettings.h"

#include <QByteArray>
#include <QString>
#include <QtEndian>

#include <array>
#include <cstring>

// The Quenlark bootloader's protocol as the host speaks it: what goes on the wire, what comes
// back, and how long the device may take. Every host of this program reads it from here.
namespace quenlark {

// Detection: the wake-up command, repeated until one read is exactly "OK".
inline constexpr char wakeUpCommand[] = "Quenlark boot!\r";
inline constexpr qint64 wakeUpCommandSize = sizeof wakeUpCommand - 1; // no NUL on the wire
inline constexpr int wakeUpIntervalMs = 55;

inline constexpr char startCommand[] = {'\x14', '\xAA', '\xEE', '\x44'};

// The image goes out in blocks, each followed by its checksum; the last is padded.
inline constexpr int blockSize = 256;
// What the line alone takes for one block's exchange: the block and its checksum out, the
// one-byte reply back.
inline constexpr double blockExchangeWireMs =
    (blockSize + 2) * line::bitsPerByte * 1000.0 / line::baudRate;
inline constexpr char padByte = char(0xFF);

// The device's whole reply to a block: one byte, one read.
inline constexpr char blockAccepted = 0x14;
inline constexpr char blockResend = 0x28;
enum class BlockReply { Accepted, Resend, Bad };

// A device that asks for the same block this many times running is not going to take it. High
// enough that a healthy but noisy line never gets there (at even odds per try, 1 in 4e9).
inline constexpr int maxResendsInARow = 32;

// Time limits. Each is "more than": a limit of N ms is passed from N + 1 whole ms on, in both
// engines (see LimitTimer).
inline constexpr int settlingMs = 5000; // after the detection's "OK", before the start command
inline constexpr int startReplyLimitMs = 5000;
inline constexpr int sizeReplyLimitMs = 5000;
inline constexpr int blockReplyLimitMs = 2000;

constexpr bool isPast(double elapsedMs, int limitMs)
{
    return elapsedMs > limitMs;
}
// Whole milliseconds still to wait until isPast() holds; at least 1 while it does not.
constexpr int msUntilPast(double elapsedMs, int limitMs)
{
    return isPast(elapsedMs, limitMs) ? 0 : int(limitMs + 1 - qint64(elapsedMs));
}

// "5 s", "2 s", "0.5 s": a limit as the operator reads it.
inline QString limitText(int limitMs)
{
    return QString::number(limitMs / 1000.0) + QStringLiteral(" s");
}

// The padded image size, little-endian, as the device expects it after the start command.
inline QByteArray sizeWord(quint32 paddedSize)
{
    QByteArray word(4, Qt::Uninitialized);
    qToLittleEndian<quint32>(paddedSize, word.data());
    return word;
}

// The complement of the 8-bit sum of the block's bytes.
inline quint8 blockChecksum(const char *block)
{
    quint8 sum = 0;
    for (int i = 0; i < blockSize; ++i)
        sum = quint8(sum + quint8(block[i]));
    return quint8(~sum);
}

// A block as it goes on the wire: its 256 bytes, then its checksum.
using BlockFrame = std::array<char, blockSize + 1>;
inline BlockFrame blockFrame(const char *block)
{
    BlockFrame frame;
    std::memcpy(frame.data(), block, blockSize);
    frame[blockSize] = char(blockChecksum(block));
    return frame;
}

inline BlockReply blockReplyKind(const QByteArray &read)
{
    if (read.size() != 1)
        return BlockReply::Bad;
    return read.front() == blockAccepted ? BlockReply::Accepted
           : read.front() == blockResend ? BlockReply::Resend
                                         : BlockReply::Bad;
}

// Replies have no framing: one read is one reply, taken as UTF-8 text up to the first NUL.
// "OK" counts only as exactly those two characters in one read.
inline bool isOkReply(const QByteArray &read)
{
    const qsizetype nul = read.indexOf('\0');
    return QString::fromUtf8(nul < 0 ? read : read.left(nul)) == QLatin1String("OK");
}

} // namespace quenlark
