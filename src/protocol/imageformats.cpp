#include "protocol/imageformats.h"

#include <QList>

#include <algorithm>

namespace imageformats {

namespace {

struct Piece
{
    qint64 address = 0;
    QByteArray data;
    int line = 0;
};

QString hex(qint64 value)
{
    return QStringLiteral("0x%1").arg(value, 8, 16, QLatin1Char('0'));
}

bool isHexText(const QByteArray &text)
{
    return std::all_of(text.cbegin(), text.cend(),
                       [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

// The file's lines, without their CR; the line number of each is its index + 1.
QList<QByteArray> linesOf(const QByteArray &content)
{
    QList<QByteArray> lines = content.split('\n');
    for (QByteArray &line : lines)
        if (line.endsWith('\r'))
            line.chop(1);
    return lines;
}

// The record's bytes after its first `skip` characters; none, and why, when they are no
// whole hexadecimal bytes.
std::optional<QByteArray> recordBytes(const QByteArray &line, int skip, QString *why)
{
    const QByteArray text = line.mid(skip).trimmed();
    if (text.size() % 2 != 0 || !isHexText(text)) {
        *why = QStringLiteral("not hexadecimal bytes");
        return std::nullopt;
    }
    return QByteArray::fromHex(text);
}

quint32 bigEndian(const QByteArray &bytes, int from, int count)
{
    quint32 value = 0;
    for (int i = 0; i < count; ++i)
        value = value << 8 | quint8(bytes.at(from + i));
    return value;
}

std::optional<QList<Piece>> intelHex(const QByteArray &content, QStringList *notes, QString *why)
{
    QList<Piece> pieces;
    qint64 upper = 0; // from a type 02 or 04 record
    int endLine = 0;
    const QList<QByteArray> lines = linesOf(content);
    for (int i = 0; i < lines.size(); ++i) {
        const int number = i + 1;
        auto fail = [&](const QString &reason) {
            *why = QStringLiteral("line %1: %2").arg(number).arg(reason);
            return std::nullopt;
        };
        const QByteArray &line = lines.at(i);
        if (line.trimmed().isEmpty())
            continue;
        if (endLine)
            return fail(QStringLiteral("data after the end record of line %1").arg(endLine));
        if (!line.startsWith(':'))
            return fail(QStringLiteral("not an Intel HEX record (no ':')"));
        QString problem;
        const std::optional<QByteArray> bytes = recordBytes(line, 1, &problem);
        if (!bytes)
            return fail(problem);
        if (bytes->size() < 5 || bytes->size() != quint8(bytes->at(0)) + 5)
            return fail(QStringLiteral("a short record"));
        quint8 sum = 0;
        for (char byte : *bytes)
            sum += quint8(byte);
        if (sum != 0)
            return fail(QStringLiteral("bad checksum"));
        const int length = quint8(bytes->at(0));
        const quint32 offset = bigEndian(*bytes, 1, 2);
        const QByteArray data = bytes->mid(4, length);
        switch (quint8(bytes->at(3))) {
        case 0x00:
            if (length > 0)
                pieces << Piece{upper + offset, data, number};
            break;
        case 0x01:
            endLine = number;
            break;
        case 0x02:
        case 0x04:
            if (length != 2)
                return fail(QStringLiteral("an address record holds 2 bytes"));
            upper = qint64(bigEndian(data, 0, 2)) << (bytes->at(3) == 0x02 ? 4 : 16);
            break;
        case 0x03:
        case 0x05:
            if (length != 4)
                return fail(QStringLiteral("a start address record holds 4 bytes"));
            *notes << QStringLiteral("the start address %1 of line %2 is ignored")
                          .arg(hex(bigEndian(data, 0, 4)))
                          .arg(number);
            break;
        default:
            return fail(QStringLiteral("unknown record type %1").arg(quint8(bytes->at(3))));
        }
    }
    if (!endLine) {
        *why = QStringLiteral("no end record (:00000001FF)");
        return std::nullopt;
    }
    return pieces;
}

std::optional<QList<Piece>> sRecord(const QByteArray &content, QStringList *notes, QString *why)
{
    QList<Piece> pieces;
    int endLine = 0;
    bool counted = false; // an S5 or S6 agreed with the data records before it
    int empty = 0;        // data records without data, which count records count too
    const QList<QByteArray> lines = linesOf(content);
    for (int i = 0; i < lines.size(); ++i) {
        const int number = i + 1;
        auto fail = [&](const QString &reason) {
            *why = QStringLiteral("line %1: %2").arg(number).arg(reason);
            return std::nullopt;
        };
        const QByteArray &line = lines.at(i);
        if (line.trimmed().isEmpty())
            continue;
        if (endLine)
            return fail(QStringLiteral("data after the end record of line %1").arg(endLine));
        if (line.size() < 2 || (line.at(0) != 'S' && line.at(0) != 's') || line.at(1) < '0' ||
            line.at(1) > '9')
            return fail(QStringLiteral("not an S-record (no S0 to S9)"));
        const int type = line.at(1) - '0';
        QString problem;
        const std::optional<QByteArray> bytes = recordBytes(line, 2, &problem);
        if (!bytes)
            return fail(problem);
        // The address's size: S0, S1, S5, S9 two bytes; S2, S6, S8 three; S3, S7 four.
        static constexpr int addressSizes[] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};
        const int addressSize = addressSizes[type];
        if (type == 4)
            return fail(QStringLiteral("S4 is no record type"));
        if (bytes->isEmpty() || bytes->size() != quint8(bytes->at(0)) + 1 ||
            bytes->size() < addressSize + 2)
            return fail(QStringLiteral("a short record"));
        quint8 sum = 0;
        for (char byte : *bytes)
            sum += quint8(byte);
        if (sum != 0xFF)
            return fail(QStringLiteral("bad checksum"));
        const quint32 address = bigEndian(*bytes, 1, addressSize);
        const QByteArray data = bytes->mid(1 + addressSize, bytes->size() - addressSize - 2);
        switch (type) {
        case 0: // a header: a name, a version
            break;
        case 1:
        case 2:
        case 3:
            if (!data.isEmpty())
                pieces << Piece{qint64(address), data, number};
            else
                ++empty;
            break;
        case 5:
        case 6:
            if (qsizetype(address) != pieces.size() + empty)
                return fail(QStringLiteral("the count record says %1 data records, there are %2")
                                .arg(address)
                                .arg(pieces.size() + empty));
            counted = true;
            break;
        default: // 7, 8, 9: the end, with a start address
            endLine = number;
            if (address != 0)
                *notes << QStringLiteral("the start address %1 of line %2 is ignored")
                              .arg(hex(address))
                              .arg(number);
            break;
        }
    }
    // srec_cat and others end a file without a start address with its count: either says the
    // file is whole.
    if (!endLine && !counted) {
        *why = QStringLiteral("no end record (S7, S8 or S9) and no count record (S5, S6)");
        return std::nullopt;
    }
    return pieces;
}

} // namespace

QString formatName(Format format)
{
    switch (format) {
    case Format::IntelHex:
        return QStringLiteral("ihex");
    case Format::SRecord:
        return QStringLiteral("srec");
    case Format::Raw:
        break;
    }
    return QStringLiteral("raw");
}

Format detect(const QByteArray &content, const QString &fileName)
{
    if (fileName.endsWith(QStringLiteral(".bin"), Qt::CaseInsensitive))
        return Format::Raw;
    // The first line that is not blank, as far as a record can be long.
    QByteArray first;
    for (const QByteArray &line : linesOf(content.left(1024)))
        if (!(first = line.trimmed()).isEmpty())
            break;
    if (first.size() >= 11 && first.startsWith(':') && isHexText(first.mid(1)))
        return Format::IntelHex;
    if (first.size() >= 10 && (first.at(0) == 'S' || first.at(0) == 's') && first.at(1) >= '0' &&
        first.at(1) <= '9' && isHexText(first.mid(2)))
        return Format::SRecord;
    return Format::Raw;
}

std::optional<Converted> convert(const QByteArray &content, Format format, qint64 largest,
                                 QString *why)
{
    Converted converted;
    std::optional<QList<Piece>> pieces = format == Format::IntelHex
                                             ? intelHex(content, &converted.notes, why)
                                             : sRecord(content, &converted.notes, why);
    if (!pieces)
        return std::nullopt;
    if (pieces->isEmpty()) {
        *why = QStringLiteral("no data records");
        return std::nullopt;
    }
    std::stable_sort(pieces->begin(), pieces->end(),
                     [](const Piece &a, const Piece &b) { return a.address < b.address; });
    qint64 end = 0;
    int reachesEnd = 0; // the piece that reaches furthest so far
    for (int i = 0; i < pieces->size(); ++i) {
        const Piece &piece = pieces->at(i);
        if (i > 0 && piece.address < end) {
            const Piece &before = pieces->at(reachesEnd);
            *why = QStringLiteral("data at %1 (line %2) overlaps data at %3 (line %4)")
                       .arg(hex(piece.address))
                       .arg(piece.line)
                       .arg(hex(before.address))
                       .arg(before.line);
            return std::nullopt;
        }
        if (piece.address + piece.data.size() > end) {
            end = piece.address + piece.data.size();
            reachesEnd = i;
        }
    }
    const qint64 base = pieces->first().address;
    const qint64 span = end - base;
    // Said before anything that large is made: a stray record far away spans gigabytes.
    if (span > largest) {
        *why = QStringLiteral("its data spans %1 bytes, from %2 to %3: too large")
                   .arg(span)
                   .arg(hex(base))
                   .arg(hex(end - 1));
        return std::nullopt;
    }
    converted.base = quint32(base);
    converted.bytes = QByteArray(span, char(0xFF));
    for (const Piece &piece : std::as_const(*pieces))
        std::copy(piece.data.cbegin(), piece.data.cend(),
                  converted.bytes.begin() + (piece.address - base));
    return converted;
}

} // namespace imageformats
