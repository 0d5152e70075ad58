#include "protocol/firmwareimage.h"
#include "testrig.h"

#include <QDir>
#include <QFile>
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

QTEST_GUILESS_MAIN(TestFirmwareImage)
#include "tst_firmwareimage.moc"
