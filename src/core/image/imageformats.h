#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// Images as compilers write them: Intel HEX (record types 00-05) and Motorola S-record (S0-S3,
// S5-S9), checksums verified, turned into the bytes a board is sent: the span from the lowest
// address to the highest, gaps filled with 0xFF.
namespace imageformats {

enum class Format { Raw, IntelHex, SRecord };

// "raw", "ihex", "srec": as the records say it.
QString formatName(Format format);

// What a file is, by its content: a first record of Intel HEX or S-record; anything else is
// raw bytes. The name is a hint: ending in .bin, always raw; in a HEX or S-record extension, a
// first line that starts as that format's records do is read as one, so that a damaged record
// is said, not sent.
Format detect(const QByteArray &content, const QString &fileName);

// `content` as 8-bit text where it is text in another dress: a UTF-8 byte order mark taken
// off, UTF-16 (with its mark, or ASCII with a zero in every other byte) turned into the ASCII it
// holds; otherwise `content` itself.
QByteArray eightBitText(const QByteArray &content);

struct Converted
{
    QByteArray bytes;  // from the lowest address to the highest, gaps 0xFF
    quint32 base = 0;  // the lowest address
    QStringList notes; // said, not refused: a start address ignored
    qint64 gap = 0;    // the largest gap between two records' data, filled with 0xFF
    quint32 gapFrom = 0;
};

// The bytes `content` holds in `format` (not Raw); none, with "line N: why" or why, when a
// record is malformed, its checksum wrong, data overlaps, the end record is missing or data
// follows it, or the span is over `largest` bytes (said with where its largest gap is, before
// anything that large is made).
std::optional<Converted> convert(const QByteArray &content, Format format, qint64 largest,
                                 QString *why);

} // namespace imageformats
