#include "bootloader.h"
#include "wire.h"

#include <QTest>

// The device double's engine, driven without a line: the host's bytes in, its replies out.
class TestBootloader : public QObject
{
    Q_OBJECT

private slots:
    void replies_data();
    void replies();
    void pacedLikeAWire();
};

namespace {

constexpr qint64 msNs = 1000000;

// A download of one block of `fill` bytes, as the host sends it, with `checksumDelta` added to
// the right checksum.
QByteArrayList oneBlock(char fill, int checksumDelta = 0)
{
    const QByteArray block(devicesim::imageBlockSize, fill);
    return {devicesim::startCommand, devicesim::sizeWord(256),
            block + char(devicesim::checksum(block) + checksumDelta)};
}

} // namespace

void TestBootloader::replies_data()
{
    QTest::addColumn<QByteArrayList>("feeds"); // one read each, 300 ms apart
    QTest::addColumn<bool>("splitStartReply");
    QTest::addColumn<QByteArray>("replies");
    QTest::addColumn<int>("completed");

    const QByteArray wake = devicesim::wakeUpCommand;
    QTest::newRow("wake-up") << QByteArrayList{wake} << false << QByteArray("OK") << 0;
    QTest::newRow("wake-up over two reads")
        << QByteArrayList{wake.left(5), wake.mid(5)} << false << QByteArray("OK") << 0;
    QTest::newRow("noise around a wake-up")
        << QByteArrayList{"xx" + wake + "yy"} << false << QByteArray("OK") << 0;
    QTest::newRow("good block") << oneBlock('\x11') << false << QByteArray("OKOK\x14") << 1;
    QTest::newRow("bad checksum") << oneBlock('\x11', 1) << false << QByteArray("OKOK\x28") << 0;
    QByteArrayList chunked = oneBlock('\x22');
    const QByteArray frame = chunked.takeLast();
    chunked << frame.left(100) << frame.mid(100);
    QTest::newRow("block in two reads") << chunked << false << QByteArray("OKOK\x14") << 1;
    QTest::newRow("empty image") << QByteArrayList{devicesim::startCommand, devicesim::sizeWord(0)}
                                 << false << QByteArray("OKOK") << 1;
    QTest::newRow("split OK") << QByteArrayList{devicesim::startCommand} << true << QByteArray("OK")
                              << 0;
}

void TestBootloader::replies()
{
    QFETCH(QByteArrayList, feeds);
    QFETCH(bool, splitStartReply);
    QFETCH(QByteArray, replies);
    QFETCH(int, completed);

    devicesim::Script script;
    script.splitStartReply = splitStartReply;
    devicesim::Bootloader device(script);
    int ended = 0;
    device.downloadEnded = [&](const devicesim::Download &, const QByteArray &) { ++ended; };
    QByteArray sent;
    int writes = 0;
    qint64 now = 1000 * msNs;
    for (const QByteArray &bytes : std::as_const(feeds)) {
        for (const devicesim::Reply &reply : device.feed(bytes, now)) {
            QVERIFY(reply.at >= now);
            sent += reply.bytes;
            ++writes;
            device.sent(reply, reply.at);
        }
        now += 300 * msNs;
    }
    QCOMPARE(sent, replies);
    QCOMPARE(device.record().completedDownloads(), completed);
    QCOMPARE(ended, completed);
    QCOMPARE(device.record().received, feeds.join());
    if (splitStartReply)
        QCOMPARE(writes, 2);
}

void TestBootloader::pacedLikeAWire()
{
    devicesim::Script script;
    script.lineRate = 115200;
    devicesim::Bootloader device(script);
    const qint64 start = 1000 * msNs;
    const QList<devicesim::Reply> replies = device.feed(devicesim::wakeUpCommand, start);
    QCOMPARE(replies.size(), 1);
    // 15 bytes in, then 2 out, at 10 bits a byte.
    const qint64 expected = start + (15 + 2) * 10 * 1000000000LL / 115200;
    QVERIFY2(qAbs(replies.first().at - expected) <= 1000,
             qPrintable(QString::number(replies.first().at - expected)));

    // A second wake-up within the quiet time after an answer is not answered again.
    QVERIFY(device.feed(devicesim::wakeUpCommand, start + 100 * msNs).isEmpty());
    QCOMPARE(device.feed(devicesim::wakeUpCommand, start + 400 * msNs).size(), 1);
}

QTEST_APPLESS_MAIN(TestBootloader)
#include "tst_bootloader.moc"
