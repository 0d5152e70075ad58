#include "core/image/firmwareimage.h"
#include "records/boardrecord.h"
#include "testrig.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

class TestFirmwareImage : public QObject
{
    Q_OBJECT

private slots:
    void padsToWholeBlocks_data();
    void padsToWholeBlocks();
    void refusesWhatCannotBeReadWhole_data();
    void refusesWhatCannotBeReadWhole();
    void opensNamesOutsideAscii();
    void records_data();
    void records();
    void matchesSrecCat_data();
    void matchesSrecCat();

private:
    QTemporaryDir dir;
};

void TestFirmwareImage::padsToWholeBlocks_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("padded");
    QTest::newRow("1") << 1 << 256;
    QTest::newRow("255") << 255 << 256;
    QTest::newRow("256") << 256 << 256;
    QTest::newRow("257") << 257 << 512;
    QTest::newRow("512") << 512 << 512;
    QTest::newRow("1000") << 1000 << 1024;
}

void TestFirmwareImage::padsToWholeBlocks()
{
    QFETCH(int, length);
    QFETCH(int, padded);
    const QByteArray content = patternImage(length, quint32(length));
    const QString path = writeFile(dir.path(), QStringLiteral("image.bin"), content);

    std::optional<PaddedImage> image = readPaddedImage(path);
    QVERIFY(image);
    QCOMPARE(image->size, padded);
    // The buffer is the file, then 0xFF up to its end, 512 bytes past the content.
    const QByteArray buffer(image->data.get(), length + 512);
    QCOMPARE(buffer.left(length), content);
    QCOMPARE(buffer.mid(length), QByteArray(512, char(0xFF)));
}

void TestFirmwareImage::refusesWhatCannotBeReadWhole_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("why");
    QTest::newRow("missing") << dir.path() + QStringLiteral("/missing.bin")
                             << QStringLiteral("no such file");
    QTest::newRow("no name") << QString() << QStringLiteral("no such file");
    QTest::newRow("folder") << dir.path() << QStringLiteral("a folder, not a file");
#ifdef Q_OS_UNIX
    QTest::newRow("device") << QStringLiteral("/dev/null") << QStringLiteral("not a regular file");
#endif
    QTest::newRow("empty") << writeFile(dir.path(), QStringLiteral("empty.bin"), QByteArray())
                           << QStringLiteral("empty");

    // Too large for the signed size with its 512 spare bytes; sparse, so it costs no disk.
    const QString huge = dir.path() + QStringLiteral("/huge.bin");
    QFile file(huge);
    if (!file.open(QIODevice::WriteOnly) ||
        !file.resize(qint64(std::numeric_limits<qint32>::max()) - 512 - 100))
        qFatal("cannot make %s", qPrintable(huge));
    QTest::newRow("too large") << huge << QStringLiteral("too large");
}

void TestFirmwareImage::refusesWhatCannotBeReadWhole()
{
    QFETCH(QString, path);
    QFETCH(QString, why);
    QString reason;
    QVERIFY(!readPaddedImage(path, &reason));
    QCOMPARE(reason, why);
}

void TestFirmwareImage::opensNamesOutsideAscii()
{
    const QByteArray content = patternImage(300);
    const QString path =
        writeFile(dir.path(), QStringLiteral("Überfirmware-\u00e9\u4e2d.bin"), content);
    std::optional<PaddedImage> image = readPaddedImage(path);
    QVERIFY(image);
    QCOMPARE(image->size, 512);
    QCOMPARE(QByteArray(image->data.get(), 300), content);
}

void TestFirmwareImage::records_data()
{
    // A file as a compiler or a person left it; the bytes sent (hex, from the base), or why not.
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("sent"); // "BASE: HEX BYTES", or the reason's start
    QTest::addColumn<QString>("gap");  // what the summary says of a large gap
    QTest::addColumn<qint64>("largest");
    auto bytes = [](const char *name, const char *file, const QByteArray &content, const char *sent,
                    const char *gap = "", qint64 largest = defaultLargestImage) {
        QTest::newRow(name) << QString::fromLatin1(file) << content << QString::fromLatin1(sent)
                            << QString::fromLatin1(gap) << largest;
    };
    auto row = [&](const char *name, const char *file, const char *content, const char *sent) {
        bytes(name, file, QByteArray(content), sent);
    };
    row("Intel HEX, a gap filled", "a.hex",
        ":020000040800F2\n:020000000102FB\n:02000400030AED\n:00000001FF\n",
        "08000000: 01 02 ff ff 03 0a");
    row("Intel HEX, CRLF and lower-case digits", "a.ihx",
        ":020000040800f2\r\n:020000000102fb\r\n:00000001ff\r\n", "08000000: 01 02");
    row("Intel HEX, segment address", "a.hex", ":020000021000EC\n:0100000055AA\n:00000001FF\n",
        "00010000: 55");
    row("Intel HEX, start address said", "a.hex",
        ":0100000055AA\n:0400000508000101ED\n:00000001FF\n", "00000000: 55");
    row("Intel HEX, bad checksum", "a.hex", ":020000000102FC\n:00000001FF\n",
        "Intel HEX file: line 1: bad checksum");
    row("Intel HEX, short record", "a.hex", ":0400000001027B\n:00000001FF\n",
        "Intel HEX file: line 1: a short record");
    row("Intel HEX, overlap", "a.hex", ":020000000102FB\n:020001000304F6\n:00000001FF\n",
        "Intel HEX file: data at 0x00000001 (line 2) overlaps data at 0x00000000 (line 1)");
    row("Intel HEX, a letter that is no digit", "a.hex",
        ":020000000102FB\n:020002000G04F8\n:00000001FF\n",
        "Intel HEX file: line 2: not hexadecimal bytes");
    row("Intel HEX, blank lines and trailing blanks", "a.hex",
        "\n:020000000102FB \t\r\n\n  \n:00000001FF", "00000000: 01 02");
    row("Intel HEX, no end record", "a.hex", ":020000000102FB\n", "Intel HEX file: no end record");
    row("Intel HEX, data after the end", "a.hex", ":00000001FF\n:020000000102FB\n",
        "Intel HEX file: line 2: data after the end record of line 1");
    // One byte at 0, one just under 4 GiB: refused before anything that large is made.
    row("Intel HEX, a 4 GB span", "a.hex",
        ":0100000055AA\n:02000004FFFFFC\n:01FFFF00669B\n:00000001FF\n",
        "Intel HEX file: its data spans 4294967296 bytes");
    row("S-record, count and start", "a.s19",
        "S00600004844521B\nS10500000102F7\nS5030001FB\nS9030100FB\n", "00000000: 01 02");
    row("S-record, S3 with a start address, lower case", "a.srec",
        "s307080000000102ed\ns70508000000f2\n", "08000000: 01 02");
    row("S-record, bad checksum", "a.s19", "S10500000102F8\nS9030000FC\n",
        "S-record file: line 1: bad checksum");
    row("S-record, wrong count", "a.s19", "S10500000102F7\nS5030002FA\nS9030000FC\n",
        "S-record file: line 2: the count record says 2 data records, there are 1");
    row("S-record, a letter that is no digit", "a.s19", "S10500000102F7\nZ9030000FC\n",
        "S-record file: line 2: not an S-record");
    // A damaged first record: said where the name says what the file is, raw where it does not.
    row("S-record, a digit pair that is no byte", "a.s19", "S105000001x2F7\nS9030000FC\n",
        "S-record file: line 1: not hexadecimal bytes");
    row("Intel HEX, a damaged first record", "a.HEX", ":0200000001G2FB\n:00000001FF\n",
        "Intel HEX file: line 1: not hexadecimal bytes");
    row("a damaged first record, unnamed, is raw", "a.dat", ":0200000001G2FB\n",
        "00000000: 3a 30 32 30 30 30 30 30 30 30 31 47 32 46 42 0a");
    row("S-record, no end record", "a.s19", "S10500000102F7\n", "S-record file: no end record");
    row("S-record ended by its count", "a.s19", "S10500000102F7\nS5030001FB\n", "00000000: 01 02");
    // By content, the name only a hint; a .bin is always raw.
    row("HEX text in a .bin is raw", "a.bin", ":00000001FF\n",
        "00000000: 3a 30 30 30 30 30 30 30 31 46 46 0a");
    row("raw bytes in a .hex are raw", "a.hex", "\x01\x02", "00000000: 01 02");
    // As a Windows editor saves a text: a byte order mark, or UTF-16. Read as the text it is,
    // never sent as its raw bytes.
    const QByteArray hex(":020000000102FB\r\n:00000001FF\r\n");
    row("Intel HEX with a UTF-8 byte order mark", "a.hex",
        "\xEF\xBB\xBF:020000000102FB\n:00000001FF\n", "00000000: 01 02");
    row("a byte order mark, unnamed", "a.dat", "\xEF\xBB\xBF:020000000102FB\n:00000001FF\n",
        "00000000: 01 02");
    const auto utf16 = [&](bool little, bool mark, const QByteArray &text) {
        QByteArray out = mark ? QByteArray(little ? "\xFF\xFE" : "\xFE\xFF", 2) : QByteArray();
        for (char c : text)
            out += little ? QByteArray(1, c) + '\0' : '\0' + QByteArray(1, c);
        return out;
    };
    bytes("Intel HEX in UTF-16, little-endian", "a.hex", utf16(true, true, hex), "00000000: 01 02");
    bytes("Intel HEX in UTF-16, big-endian", "a.hex", utf16(false, true, hex), "00000000: 01 02");
    bytes("Intel HEX in UTF-16 without a mark", "a.ihx", utf16(true, false, hex),
          "00000000: 01 02");
    bytes("S-record in UTF-16, unnamed", "a.dat",
          utf16(true, true, "S10500000102F7\r\nS9030000FC\r\n"), "00000000: 01 02");
    // A span over the largest image: refused at once, with where its largest gap is.
    row("Intel HEX spanning 2 GiB", "a.hex",
        ":0100000055AA\n:020000047FFF7C\n:01FC0F00668E\n:00000001FF\n",
        "Intel HEX file: its data spans 2147482640 bytes, from 0x00000000 to 0x7ffffc0f, more "
        "than the 16 MiB allowed (--max-image-size); the largest gap, 2147482638 bytes, is from "
        "0x00000001 to 0x7ffffc0e, before the data of line 3");
    const QByteArray stray(":020000040800F2\n:10000000000102030405060708090A0B0C0D0E0F78\n"
                           ":020000041FFFDC\n:10F80000AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA58\n"
                           ":00000001FF\n");
    bytes("a stray option-bytes record", "a.hex", stray,
          "Intel HEX file: its data spans 402651152 bytes, from 0x08000000 to 0x1ffff80f");
    bytes("a span under a smaller limit", "a.hex", hex, "00000000: 01 02", "", 256);
    bytes("a span over a smaller limit", "a.hex",
          ":020000000102FB\n:020000040000FA\n:01010000AA54\n:00000001FF\n",
          "Intel HEX file: its data spans 257 bytes, from 0x00000000 to 0x00000100, more than "
          "the 256 bytes allowed",
          "", 256);
    bytes("a raw image over the limit", "a.bin", QByteArray(1000, 'x'),
          "1000 bytes, larger than the 512 bytes allowed (--max-image-size)", "", 512);
    // A gap over a megabyte is said, as a stray record's likely doing.
    QByteArray gapped = ":0100000055AA\n:020000040018E2\n:010000007788\n:00000001FF\n";
    bytes("a gap of 1.5 MiB", "a.hex", gapped, "",
          "a gap of 1572863 bytes at 0x00000001 filled with 0xFF");
}

void TestFirmwareImage::records()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QString, sent);
    QFETCH(QString, gap);
    QFETCH(qint64, largest);
    const QString path = writeFile(dir.path(), name, content);
    QString why;
    const std::optional<PaddedImage> image =
        readPaddedImage(path, &why, ImageReading::anyFormatUpTo(largest));
    if (!image) {
        QVERIFY2(!sent.isEmpty() && why.startsWith(sent), qPrintable(why));
        return;
    }
    QCOMPARE(ImageRecord::of(path, *image).largeGapText(), gap);
    if (!gap.isEmpty())
        return; // megabytes of 0xFF
    QCOMPARE(QStringLiteral("%1: %2")
                 .arg(image->base, 8, 16, QLatin1Char('0'))
                 .arg(QString::fromLatin1(QByteArray(image->data.get(), image->length).toHex(' '))),
             sent);
    QCOMPARE(image->notes.isEmpty(), !QByteArray(QTest::currentDataTag()).contains("start"));
    // FlashLoader's window reads what it is given as raw bytes, whatever it holds.
    QCOMPARE(QByteArray(readPaddedImage(path)->data.get(), content.size()), content);
}

void TestFirmwareImage::matchesSrecCat_data()
{
    QTest::addColumn<QString>("format"); // srec_cat's name of it
    QTest::addColumn<quint32>("base");
    QTest::addColumn<int>("pieces"); // random runs of bytes with random gaps between them
    QTest::newRow("Intel HEX at 0") << "-intel" << 0u << 1;
    QTest::newRow("Intel HEX at 0x08000000, gaps") << "-intel" << 0x08000000u << 4;
    QTest::newRow("Intel HEX, 16-bit addresses, gaps")
        << "-intel -address-length=2" << 0x2000u << 3;
    QTest::newRow("S-record at 0x1000, gaps") << "-motorola" << 0x1000u << 3;
    QTest::newRow("S-record S3 at 0x20000000") << "-motorola -address-length=4" << 0x20000000u << 2;
}

void TestFirmwareImage::matchesSrecCat()
{
    QFETCH(QString, format);
    QFETCH(quint32, base);
    QFETCH(int, pieces);
    const QString srecCat = QStandardPaths::findExecutable(QStringLiteral("srec_cat"));
    if (srecCat.isEmpty())
        QSKIP("No srec_cat here (Debian's srecord; scripts/dev.sh installs it).");
    // Random runs at random places; what is sent is what objcopy --gap-fill 0xff gives.
    QRandomGenerator random(base + quint32(pieces));
    QByteArray expected;
    QStringList arguments;
    quint32 at = base;
    for (int i = 0; i < pieces; ++i) {
        QByteArray bytes(int(random.bounded(1, 3000)), Qt::Uninitialized);
        for (char &byte : bytes)
            byte = char(random.bounded(256));
        const QString piece = writeFile(dir.path(), QStringLiteral("piece%1.bin").arg(i), bytes);
        arguments << piece << QStringLiteral("-binary") << QStringLiteral("-offset")
                  << QString::number(at);
        const int gap = i + 1 < pieces ? int(random.bounded(0, 700)) : 0;
        expected += bytes + QByteArray(gap, char(0xFF));
        at += quint32(bytes.size() + gap);
    }
    const QString out = dir.filePath(QStringLiteral("fixture.hex"));
    QProcess tool;
    tool.start(srecCat,
               arguments + QStringList{QStringLiteral("-o"), out} + format.split(QLatin1Char(' ')));
    QVERIFY(tool.waitForFinished(10000));
    QVERIFY2(tool.exitCode() == 0, tool.readAllStandardError().constData());
    QString why;
    const std::optional<PaddedImage> image =
        readPaddedImage(out, &why, ImageReading::anyFormatUpTo(defaultLargestImage));
    QVERIFY2(image, qPrintable(why));
    QCOMPARE(image->base, base);
    QCOMPARE(QByteArray(image->data.get(), image->length).toHex(), expected.toHex());
}

QTEST_GUILESS_MAIN(TestFirmwareImage)
#include "tst_firmwareimage.moc"
