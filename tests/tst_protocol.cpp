#include "core/protocol/hostrules.h"
#include "core/protocol/quenlark.h"
#include "wire.h"

#include <QTest>

// The host's protocol code against the device double's own, written apart from it.
class TestProtocol : public QObject
{
    Q_OBJECT

private slots:
    void checksum_data();
    void checksum();
    void okReply_data();
    void okReply();
    void blockReply_data();
    void blockReply();
    void sizeWord_data();
    void sizeWord();
    void limits_data();
    void limits();
    void readsAfterTheStart_data();
    void readsAfterTheStart();
    void resends_data();
    void resends();
    void describedRead_data();
    void describedRead();
};

void TestProtocol::checksum_data()
{
    QTest::addColumn<QByteArray>("block");
    QTest::addColumn<int>("expected");

    QByteArray ascending(256, '\0');
    for (int i = 0; i < 256; ++i)
        ascending[i] = char(i);
    QByteArray single(256, '\0');
    single[0] = 1;
    QByteArray wraps(256, '\0');
    wraps[0] = char(0x80);
    wraps[1] = char(0x80);
    wraps[2] = char(0x05);
    QByteArray worked(256, char(0xFF)); // the example in docs/protocol.md
    worked.replace(0, 4, QByteArray("\x12\x34\x56\x78"));

    QTest::newRow("all 0xFF") << QByteArray(256, char(0xFF)) << 0xFF;
    QTest::newRow("all zero") << QByteArray(256, '\0') << 0xFF;
    QTest::newRow("ascending") << ascending << 0x7F;
    QTest::newRow("one 0x01") << single << 0xFE;
    QTest::newRow("sum wraps") << wraps << 0xFA;
    QTest::newRow("worked example") << worked << 0xE7;
}

void TestProtocol::checksum()
{
    QFETCH(QByteArray, block);
    QFETCH(int, expected);
    QCOMPARE(int(quenlark::blockChecksum(block.constData())), expected);
    QCOMPARE(int(devicesim::checksum(block)), expected);
}

void TestProtocol::okReply_data()
{
    QTest::addColumn<QByteArray>("read");
    QTest::addColumn<bool>("ok");
    QTest::newRow("OK") << QByteArray("OK") << true;
    QTest::newRow("OK, NUL, more") << QByteArray("OK\0x", 4) << true; // text ends at the NUL
    QTest::newRow("OK CR LF") << QByteArray("OK\r\n") << false;
    QTest::newRow("lower case") << QByteArray("ok") << false;
    QTest::newRow("half") << QByteArray("O") << false;
    QTest::newRow("leading blank") << QByteArray(" OK") << false;
    QTest::newRow("two in one read") << QByteArray("OKOK") << false;
    QTest::newRow("NUL first") << QByteArray("\0OK", 3) << false;
    QTest::newRow("nothing") << QByteArray() << false;
}

void TestProtocol::okReply()
{
    QFETCH(QByteArray, read);
    QFETCH(bool, ok);
    QCOMPARE(quenlark::isOkReply(read), ok);
}

void TestProtocol::blockReply_data()
{
    QTest::addColumn<QByteArray>("read");
    QTest::addColumn<int>("reply");
    const int accepted = int(quenlark::BlockReply::Accepted);
    const int resend = int(quenlark::BlockReply::Resend);
    const int bad = int(quenlark::BlockReply::Bad);
    QTest::newRow("0x14") << devicesim::ack << accepted;
    QTest::newRow("0x28") << devicesim::resend << resend;
    QTest::newRow("0x14 twice in one read") << QByteArray("\x14\x14") << bad;
    QTest::newRow("0x14 0x28") << QByteArray("\x14\x28") << bad;
    QTest::newRow("OK") << QByteArray("OK") << bad;
    QTest::newRow("NUL") << QByteArray(1, '\0') << bad;
}

void TestProtocol::blockReply()
{
    QFETCH(QByteArray, read);
    QFETCH(int, reply);
    QCOMPARE(int(quenlark::blockReplyKind(read)), reply);
}

void TestProtocol::sizeWord_data()
{
    QTest::addColumn<quint32>("size");
    QTest::newRow("0") << quint32(0);
    QTest::newRow("512") << quint32(512);
    QTest::newRow("1024") << quint32(1024);
    QTest::newRow("high bytes") << quint32(0x7FFFFE00);
}

void TestProtocol::sizeWord()
{
    QFETCH(quint32, size);
    QCOMPARE(quenlark::sizeWord(size), devicesim::sizeWord(size));
}

void TestProtocol::limits_data()
{
    QTest::addColumn<double>("elapsedMs");
    QTest::addColumn<int>("limitMs");
    QTest::addColumn<bool>("past");
    QTest::addColumn<int>("left");
    QTest::newRow("at the start") << 0.0 << 2000 << false << 2001;
    QTest::newRow("at the limit") << 2000.0 << 2000 << false << 1;
    QTest::newRow("one past") << 2001.0 << 2000 << true << 0;
    QTest::newRow("settling, at 5000") << 5000.0 << quenlark::settlingMs << false << 1;
    QTest::newRow("settling, at 5001") << 5001.0 << quenlark::settlingMs << true << 0;
}

void TestProtocol::limits()
{
    QFETCH(double, elapsedMs);
    QFETCH(int, limitMs);
    QFETCH(bool, past);
    QFETCH(int, left);
    QCOMPARE(quenlark::isPast(elapsedMs, limitMs), past);
    QCOMPARE(quenlark::msUntilPast(elapsedMs, limitMs), left);
}

void TestProtocol::readsAfterTheStart_data()
{
    using R = quenlark::Read;
    QTest::addColumn<QList<QByteArray>>("reads");
    QTest::addColumn<QList<R>>("meanings");
    QTest::addColumn<int>("okCount");
    const QByteArray ok("OK");
    QTest::newRow("start, size, a block")
        << QList<QByteArray>{ok, ok, devicesim::ack}
        << QList<R>{R::SendSizeWord, R::StartBlocks, R::BlockReply} << 2;
    QTest::newRow("noise and half an OK before")
        << QList<QByteArray>{"x", ok, "O", "K", ok}
        << QList<R>{R::Ignored, R::SendSizeWord, R::Ignored, R::Ignored, R::StartBlocks} << 2;
    QTest::newRow("OK during the blocks deafens")
        << QList<QByteArray>{ok, ok, ok, devicesim::ack, ok}
        << QList<R>{R::SendSizeWord, R::StartBlocks, R::Deafened, R::Ignored, R::Ignored} << 4;
    QTest::newRow("OK cut at a NUL, not OK with a line end")
        << QList<QByteArray>{QByteArray("OK\0x", 4), "OK\r\n"}
        << QList<R>{R::SendSizeWord, R::Ignored} << 1;
}

void TestProtocol::readsAfterTheStart()
{
    QFETCH(QList<QByteArray>, reads);
    QFETCH(QList<quenlark::Read>, meanings);
    QFETCH(int, okCount);
    qint32 count = 0;
    QList<quenlark::Read> taken;
    for (const QByteArray &read : reads)
        taken << quenlark::takeRead(read, count);
    QCOMPARE(taken, meanings);
    QCOMPARE(count, okCount);
}

void TestProtocol::resends_data()
{
    QTest::addColumn<QByteArray>("replies"); // r: 0x28, a: accepted
    QTest::addColumn<bool>("lastSendsAgain");
    QTest::addColumn<int>("sent");
    QTest::newRow("31 in a row") << QByteArray(31, 'r') << true << 31;
    QTest::newRow("32 in a row: 31 went out again") << QByteArray(32, 'r') << false << 31;
    QTest::newRow("an accepted block starts the count again")
        << QByteArray(31, 'r') + 'a' + QByteArray(31, 'r') << true << 62;
}

void TestProtocol::resends()
{
    QFETCH(QByteArray, replies);
    QFETCH(bool, lastSendsAgain);
    QFETCH(int, sent);
    quenlark::Resends resends;
    bool again = true;
    for (char reply : replies) {
        if (reply == 'a')
            resends.accepted();
        else
            again = resends.sendAgain();
    }
    QCOMPARE(again, lastSendsAgain);
    QCOMPARE(resends.sent(), sent);
}

void TestProtocol::describedRead_data()
{
    QTest::addColumn<QByteArray>("read");
    QTest::addColumn<QString>("text");
    QTest::newRow("one byte") << QByteArray("Q") << QStringLiteral("1 byte: 51");
    QTest::newRow("eight") << QByteArray("OKOKOKOK")
                           << QStringLiteral("8 bytes: 4f 4b 4f 4b 4f 4b 4f 4b");
    QTest::newRow("a flood stays short")
        << QByteArray(12317, 'O') << QStringLiteral("12317 bytes: 4f 4f 4f 4f 4f 4f 4f 4f ...");
}

void TestProtocol::describedRead()
{
    QFETCH(QByteArray, read);
    QFETCH(QString, text);
    QCOMPARE(quenlark::describeRead(read), text);
}

QTEST_APPLESS_MAIN(TestProtocol)
#include "tst_protocol.moc"
