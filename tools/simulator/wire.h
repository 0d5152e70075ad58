#pragma once

#include <QByteArray>
#include <QtGlobal>

// The wire as the device's side knows it. Written apart from the updater's own protocol code on
// purpose: a test double that shared that code could not catch a fault in it.
namespace devicesim {

inline const QByteArray wakeUpCommand("Quenlark boot!\r");
inline const QByteArray startCommand("\x14\xAA\xEE\x44", 4);
inline constexpr int imageBlockSize = 256;
inline const QByteArray ack("\x14", 1);
inline const QByteArray resend("\x28", 1);

// The complement of the byte sum, modulo 256.
inline quint8 checksum(const QByteArray &block)
{
    unsigned sum = 0;
    for (char byte : block)
        sum += quint8(byte);
    return quint8(~sum & 0xFF);
}

inline QByteArray sizeWord(quint32 size)
{
    QByteArray word;
    for (int shift = 0; shift < 32; shift += 8)
        word.append(char((size >> shift) & 0xFF));
    return word;
}

// 0xFF-padded to whole blocks, as the device must receive it.
inline QByteArray paddedImage(const QByteArray &image)
{
    QByteArray padded = image;
    const qsizetype rest = image.size() % imageBlockSize;
    if (rest)
        padded.append(imageBlockSize - rest, char(0xFF));
    return padded;
}

// What a host must send for `image` from the start command on: the command, the size word, and
// each padded block followed by its checksum.
inline QByteArray expectedDownload(const QByteArray &image)
{
    const QByteArray padded = paddedImage(image);
    QByteArray bytes = startCommand + sizeWord(quint32(padded.size()));
    for (qsizetype at = 0; at < padded.size(); at += imageBlockSize) {
        const QByteArray block = padded.mid(at, imageBlockSize);
        bytes.append(block).append(char(checksum(block)));
    }
    return bytes;
}

} // namespace devicesim
