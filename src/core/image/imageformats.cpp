#include "core/image/imageformats.h"

#include "core/image/firmwareimage.h"

#include <QByteArrayView>
#include <QList>

#include <algorithm>
#include <array>

namespace imageformats {

namespace {

// A run of the file's data: where it goes, and where its bytes are in the pool of all of them.
// Records that follow on from the one before extend its piece.
struct Piece
{
    qint64 address = 0;
    qsizetype at = 0;
    qsizetype size = 0;
    int line = 0;
};

struct Pieces
{
    QList<Piece> list;
    QByteArray pool;
    int records = 0;

    void add(qint64 address, const quint8 *data, int size, int line)
    {
        ++records;
        if (!list.isEmpty() && list.last().address + list.last().size == address &&
            list.last().at + list.last().size == pool.size())
            list.last().size += size;
        else
            list << Piece{address, pool.size(), size, line};
        pool.append(reinterpret_cast<const char *>(data), size);
    }
};

// A record's bytes, decoded: at most 255 of data and what frames them.
struct Record
{
    std::array<quint8, 262> bytes{};
    int size = 0;

    quint32 bigEndian(int from, int count) const
    {
        quint32 value = 0;
        for (int i = 0; i < count; ++i)
            value = value << 8 | bytes[size_t(from + i)];
        return value;
    }
};

// The byte each pair of characters is as two hexadecimal digits, -1 for any other pair: one
// look-up a byte, as a megabyte of image is three of text. Made at the first use.
const std::array<qint16, 65536> &pairValues()
{
    static const std::array<qint16, 65536> values = [] {
        auto digit = [](int c) {
            return c >= '0' && c <= '9'   ? c - '0'
                   : c >= 'a' && c <= 'f' ? c - 'a' + 10
                   : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                          : -1;
        };
        std::array<qint16, 65536> table{};
        for (int pair = 0; pair < 65536; ++pair) {
            const int high = digit(pair >> 8), low = digit(pair & 0xFF);
            table[size_t(pair)] = high < 0 || low < 0 ? qint16(-1) : qint16(high << 4 | low);
        }
        return table;
    }();
    return values;
}

QString hex(qint64 value)
{
    return QStringLiteral("0x%1").arg(value, 8, 16, QLatin1Char('0'));
}

bool isHexText(const QByteArray &text)
{
    return std::all_of(text.cbegin(), text.cend(),
                       [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

// The file's lines, without their CR, as views of it; the line number of each is its index + 1.
QList<QByteArrayView> linesOf(QByteArrayView content)
{
    QList<QByteArrayView> lines;
    lines.reserve(content.size() / 40 + 1);
    qsizetype start = 0;
    while (start <= content.size()) {
        qsizetype end = content.indexOf('\n', start);
        if (end < 0)
            end = content.size();
        QByteArrayView line = content.sliced(start, end - start);
        if (line.endsWith('\r'))
            line.chop(1);
        lines << line;
        start = end + 1;
    }
    return lines;
}

// The record's bytes after its first `skip` characters, and their sum; false, and why, when
// they are no whole hexadecimal bytes or more than a record holds.
bool recordBytes(QByteArrayView line, int skip, Record *record, quint8 *sum, QString *why)
{
    const QByteArrayView text = line.sliced(skip).trimmed();
    if (text.size() % 2 != 0 || text.size() / 2 > qsizetype(record->bytes.size())) {
        *why = text.size() % 2 ? QStringLiteral("not hexadecimal bytes")
                               : QStringLiteral("a record longer than any can be");
        return false;
    }
    record->size = int(text.size() / 2);
    const auto *digits = reinterpret_cast<const quint8 *>(text.data());
    const std::array<qint16, 65536> &pairs = pairValues();
    quint8 total = 0;
    int invalid = 0; // any pair's -1 sets its high bits
    for (int i = 0; i < record->size; ++i, digits += 2) {
        const int byte = pairs[size_t(digits[0]) << 8 | digits[1]];
        invalid |= byte;
        record->bytes[size_t(i)] = quint8(byte);
        total = quint8(total + byte);
    }
    if (invalid < 0) {
        *why = QStringLiteral("not hexadecimal bytes");
        return false;
    }
    *sum = total;
    return true;
}

// Calls `read(line, number)` for each line of a HEX or S-record file that is not blank, its CR
// taken off, until one gives a reason it is wrong; a line after the end record (`*endLine`,
// which `read` sets) is one. The reason, with its line, in `why`.
template <typename Read>
bool eachRecord(QByteArrayView content, const int *endLine, QString *why, Read read)
{
    int number = 0;
    for (qsizetype start = 0; start <= content.size();) {
        qsizetype end = content.indexOf('\n', start);
        if (end < 0)
            end = content.size();
        QByteArrayView line = content.sliced(start, end - start);
        start = end + 1;
        ++number;
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.trimmed().isEmpty())
            continue;
        const QString problem =
            *endLine ? QStringLiteral("data after the end record of line %1").arg(*endLine)
                     : read(line, number);
        if (!problem.isEmpty()) {
            *why = QStringLiteral("line %1: %2").arg(number).arg(problem);
            return false;
        }
    }
    return true;
}

bool intelHex(QByteArrayView content, Pieces *pieces, QStringList *notes, QString *why)
{
    qint64 upper = 0; // from a type 02 or 04 record
    int endLine = 0;
    Record record;
    const bool read = eachRecord(content, &endLine, why, [&](QByteArrayView line, int number) {
        if (!line.startsWith(':'))
            return QStringLiteral("not an Intel HEX record (no ':')");
        QString problem;
        quint8 sum = 0;
        if (!recordBytes(line, 1, &record, &sum, &problem))
            return problem;
        const auto &bytes = record.bytes;
        if (record.size < 5 || record.size != bytes[0] + 5)
            return QStringLiteral("a short record");
        if (sum != 0)
            return QStringLiteral("bad checksum");
        const int length = bytes[0];
        const quint32 offset = record.bigEndian(1, 2);
        switch (bytes[3]) {
        case 0x00:
            if (length > 0)
                pieces->add(upper + offset, &bytes[4], length, number);
            break;
        case 0x01:
            endLine = number;
            break;
        case 0x02:
        case 0x04:
            if (length != 2)
                return QStringLiteral("an address record holds 2 bytes");
            upper = qint64(record.bigEndian(4, 2)) << (bytes[3] == 0x02 ? 4 : 16);
            break;
        case 0x03:
        case 0x05:
            if (length != 4)
                return QStringLiteral("a start address record holds 4 bytes");
            *notes << QStringLiteral("the start address %1 of line %2 is ignored")
                          .arg(hex(record.bigEndian(4, 4)))
                          .arg(number);
            break;
        default:
            return QStringLiteral("unknown record type %1").arg(bytes[3]);
        }
        return QString();
    });
    if (read && !endLine) {
        *why = QStringLiteral("no end record (:00000001FF)");
        return false;
    }
    return read;
}

bool sRecord(QByteArrayView content, Pieces *pieces, QStringList *notes, QString *why)
{
    int endLine = 0;
    bool counted = false; // an S5 or S6 agreed with the data records before it
    Record record;
    const bool read = eachRecord(content, &endLine, why, [&](QByteArrayView line, int number) {
        if (line.size() < 2 || (line[0] != 'S' && line[0] != 's') || line[1] < '0' || line[1] > '9')
            return QStringLiteral("not an S-record (no S0 to S9)");
        const int type = line[1] - '0';
        if (type == 4)
            return QStringLiteral("S4 is no record type");
        QString problem;
        quint8 sum = 0;
        if (!recordBytes(line, 2, &record, &sum, &problem))
            return problem;
        // The address's size: S0, S1, S5, S9 two bytes; S2, S6, S8 three; S3, S7 four.
        static constexpr int addressSizes[] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};
        const int addressSize = addressSizes[type];
        const auto &bytes = record.bytes;
        if (record.size == 0 || record.size != bytes[0] + 1 || record.size < addressSize + 2)
            return QStringLiteral("a short record");
        if (sum != 0xFF)
            return QStringLiteral("bad checksum");
        const quint32 address = record.bigEndian(1, addressSize);
        const int dataSize = record.size - addressSize - 2;
        switch (type) {
        case 0: // a header: a name, a version
            break;
        case 1:
        case 2:
        case 3:
            if (dataSize > 0)
                pieces->add(qint64(address), &bytes[size_t(1 + addressSize)], dataSize, number);
            else
                ++pieces->records;
            break;
        case 5:
        case 6:
            if (qint64(address) != pieces->records)
                return QStringLiteral("the count record says %1 data records, there are %2")
                    .arg(address)
                    .arg(pieces->records);
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
        return QString();
    });
    // srec_cat and others end a file without a start address with its count: either says the
    // file is whole.
    if (read && !endLine && !counted) {
        *why = QStringLiteral("no end record (S7, S8 or S9) and no count record (S5, S6)");
        return false;
    }
    return read;
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

QByteArray eightBitText(const QByteArray &content)
{
    const auto startsWith = [&](QByteArrayView mark) { return content.startsWith(mark); };
    if (startsWith("\xEF\xBB\xBF"))
        return content.mid(3);
    bool little = startsWith("\xFF\xFE");
    bool big = startsWith("\xFE\xFF");
    const qsizetype from = little || big ? 2 : 0;
    if (!little && !big && content.size() >= 4) {
        // Without a mark: ASCII in UTF-16 has a zero in every other byte.
        little = content[0] != 0 && content[1] == 0 && content[2] != 0 && content[3] == 0;
        big = content[0] == 0 && content[1] != 0 && content[2] == 0 && content[3] != 0;
    }
    if ((!little && !big) || (content.size() - from) % 2 != 0)
        return content;
    QByteArray text;
    text.reserve((content.size() - from) / 2);
    for (qsizetype i = from; i < content.size(); i += 2) {
        const auto low = quint8(content[little ? i : i + 1]);
        const auto high = quint8(content[little ? i + 1 : i]);
        if (high != 0 || low >= 0x80)
            return content; // other text than ASCII: no HEX file, whatever it is
        text += char(low);
    }
    return text;
}

Format detect(const QByteArray &content, const QString &fileName)
{
    if (fileName.endsWith(QStringLiteral(".bin"), Qt::CaseInsensitive))
        return Format::Raw;
    // The first line that is not blank, as far as a record can be long.
    QByteArray first;
    const QByteArrayView start =
        QByteArrayView(content).first(qMin<qsizetype>(content.size(), 1024));
    for (const QByteArrayView line : linesOf(start))
        if (!(first = line.trimmed().toByteArray()).isEmpty())
            break;
    auto named = [&](std::initializer_list<const char *> extensions) {
        return std::any_of(extensions.begin(), extensions.end(), [&](const char *extension) {
            return fileName.endsWith(QLatin1String(extension), Qt::CaseInsensitive);
        });
    };
    if (first.startsWith(':') &&
        (named({".hex", ".ihx", ".ihex"}) || (first.size() >= 11 && isHexText(first.mid(1)))))
        return Format::IntelHex;
    if (first.size() >= 2 && (first.at(0) == 'S' || first.at(0) == 's') && first.at(1) >= '0' &&
        first.at(1) <= '9' &&
        (named({".s19", ".s28", ".s37", ".srec", ".mot"}) ||
         (first.size() >= 10 && isHexText(first.mid(2)))))
        return Format::SRecord;
    return Format::Raw;
}

std::optional<Converted> convert(const QByteArray &content, Format format, qint64 largest,
                                 QString *why)
{
    Converted converted;
    Pieces pieces;
    pieces.pool.reserve(content.size() / 2); // a text's data is less than half its characters
    const bool read = format == Format::IntelHex ? intelHex(content, &pieces, &converted.notes, why)
                                                 : sRecord(content, &pieces, &converted.notes, why);
    if (!read)
        return std::nullopt;
    QList<Piece> &list = pieces.list;
    if (list.isEmpty()) {
        *why = QStringLiteral("no data records");
        return std::nullopt;
    }
    std::stable_sort(list.begin(), list.end(),
                     [](const Piece &a, const Piece &b) { return a.address < b.address; });
    qint64 end = 0;
    int reachesEnd = 0; // the piece that reaches furthest so far
    int gapBefore = -1; // the piece after the largest gap
    for (int i = 0; i < list.size(); ++i) {
        const Piece &piece = list.at(i);
        if (i > 0 && piece.address - end > converted.gap) {
            converted.gap = piece.address - end;
            converted.gapFrom = quint32(end);
            gapBefore = i;
        }
        if (i > 0 && piece.address < end) {
            // Said by the record where the overlap starts.
            const Piece &before = list.at(reachesEnd);
            *why = QStringLiteral("data at %1 (line %2) overlaps data at %3 (line %4)")
                       .arg(hex(piece.address))
                       .arg(piece.line)
                       .arg(hex(before.address))
                       .arg(before.line);
            return std::nullopt;
        }
        if (piece.address + piece.size > end) {
            end = piece.address + piece.size;
            reachesEnd = i;
        }
    }
    const qint64 base = list.first().address;
    const qint64 span = end - base;
    // Said before anything that large is made: a stray record far away spans gigabytes.
    if (span > largest) {
        *why = QStringLiteral("its data spans %1 bytes, from %2 to %3, more than the %4 allowed "
                              "(--max-image-size)")
                   .arg(span)
                   .arg(hex(base))
                   .arg(hex(end - 1))
                   .arg(sizeText(largest));
        if (gapBefore >= 0)
            *why += QStringLiteral("; the largest gap, %1 bytes, is from %2 to %3, before the "
                                   "data of line %4")
                        .arg(converted.gap)
                        .arg(hex(converted.gapFrom))
                        .arg(hex(list.at(gapBefore).address - 1))
                        .arg(list.at(gapBefore).line);
        return std::nullopt;
    }
    converted.base = quint32(base);
    converted.bytes = QByteArray(span, char(0xFF));
    for (const Piece &piece : std::as_const(list))
        std::copy_n(pieces.pool.constData() + piece.at, piece.size,
                    converted.bytes.data() + (piece.address - base));
    return converted;
}

} // namespace imageformats
