#include "testrig.h"

#include <QApplication>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

// Downloads that fail from the size word on, and one that the operator cuts short.
class TestDownloadBlocks : public QObject
{
    Q_OBJECT

private slots:
    void silenceAfterSizeWord();
    void badReply_data();
    void badReply();
    void noReply_data();
    void noReply();
    void closingTheWindowAborts(); // last: it ends the application's event loop

private:
    QTemporaryDir dir;
};

void TestDownloadBlocks::silenceAfterSizeWord()
{
    devicesim::Script script;
    script.silentAfterSize = true;
    Rig rig(script);
    const QByteArray image = patternImage(700);
    QVERIFY(rig.detect());
    rig.flash(writeFile(dir.path(), QStringLiteral("image.bin"), image));
    QVERIFY(rig.waitForBox(QStringLiteral("Failed to flash!"), 7000));
    const qint64 failedAt = devicesim::nowNs();

    const devicesim::Record record = rig.device.record();
    QCOMPARE(record.sizeWords, QList<QByteArray>{QByteArray("\x00\x03\x00\x00", 4)});
    // The size word went out with the reply to the start command; its bound is 5 s.
    const double waited = msBetween(record.startCommands.first(), failedAt);
    QVERIFY2(waited >= 5000 && waited < 5600, qPrintable(QString::number(waited)));
    QCOMPARE(warningBoxFault(rig.answerer.boxes.last(), &rig.window), QString());
    QCOMPARE(afterDetection(record.received), expectedDownload(image).left(8));
    QTRY_VERIFY2(rig.isIdle(), qPrintable(rig.idleReport()));
    QCOMPARE(rig.answerer.boxes.size(), 1);
}

void TestDownloadBlocks::badReply_data()
{
    QTest::addColumn<QByteArray>("reply"); // to block 1, every time
    QTest::addColumn<int>("sends");        // of block 1
    QTest::newRow("0x14 twice in one read") << QByteArray("\x14\x14", 2) << 1;
    // A device, or a line at the wrong speed, that asks again for ever.
    QTest::newRow("0x28 for ever") << devicesim::resend << 32;
}

void TestDownloadBlocks::badReply()
{
    QFETCH(QByteArray, reply);
    QFETCH(int, sends);
    devicesim::Script script;
    script.blockReply = [reply](int block, int, bool) {
        return block == 1 ? reply : devicesim::ack;
    };
    Rig rig(script);
    const QByteArray image = patternImage(1024);
    QVERIFY(rig.detect());
    rig.flash(writeFile(dir.path(), QStringLiteral("image.bin"), image));
    QVERIFY(rig.waitForBox(QStringLiteral("Failed to flash!"), 3000));

    const devicesim::Record record = rig.device.record();
    // Failed at once on the reply, not by the time limit.
    QVERIFY(msBetween(record.blocks.last().at, devicesim::nowNs()) < 1500);
    QCOMPARE(record.blocks.size(), 1 + sends);
    const QByteArray frame = expectedDownload(image).mid(8 + 257, 257);
    QCOMPARE(afterDetection(record.received),
             expectedDownload(image).left(8 + 257) + frame.repeated(sends));
    QCOMPARE(warningBoxFault(rig.answerer.boxes.last(), &rig.window), QString());
    QCOMPARE(rig.window.findChild<QProgressBar *>(QStringLiteral("progressBar"))->value(), 0);
    QTRY_VERIFY2(rig.isIdle(), qPrintable(rig.idleReport()));
}

void TestDownloadBlocks::noReply_data()
{
    QTest::addColumn<QByteArray>("reply"); // to block 2; empty for none
    QTest::addColumn<bool>("reentrant");   // readyRead() re-entering the slot, as on Windows
    QTest::newRow("silence after block 2") << QByteArray() << false;
    QTest::newRow("OK during the blocks") << QByteArray("OK") << false;
    // The "OK" read inside the loop must neither start a second transfer nor count as a reply.
    QTest::newRow("OK during the blocks, readyRead re-entering") << QByteArray("OK") << true;
}

void TestDownloadBlocks::noReply()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, reentrant);
    devicesim::Script script;
    if (reply.isEmpty())
        script.silentFromBlock = 2;
    else
        script.blockReply = [reply](int block, int, bool) {
            return block == 2 ? reply : devicesim::ack;
        };
    Rig rig(script);
    const QByteArray image = patternImage(1280);
    QVERIFY(rig.detect());
    std::optional<ReenteringReadyRead> reentering;
    if (reentrant)
        reentering.emplace(rig.window);
    rig.flash(writeFile(dir.path(), QStringLiteral("image.bin"), image));
    QVERIFY(rig.waitForBox(QStringLiteral("Failed to flash!"), 4000));
    const qint64 failedAt = devicesim::nowNs();

    const devicesim::Record record = rig.device.record();
    const double waited = msBetween(record.blocks.at(2).at, failedAt);
    QVERIFY2(waited >= 2000 && waited < 2500, qPrintable(QString::number(waited)));
    QCOMPARE(afterDetection(record.received), expectedDownload(image).left(8 + 3 * 257));
    QCOMPARE(warningBoxFault(rig.answerer.boxes.last(), &rig.window), QString());
    QTRY_VERIFY2(rig.isIdle(), qPrintable(rig.idleReport()));
}

void TestDownloadBlocks::closingTheWindowAborts()
{
    devicesim::Script script;
    script.blockDelayMs = 10;
    Rig rig(script);
    const QString path = writeFile(dir.path(), QStringLiteral("image.bin"), patternImage(64 * 256));
    QVERIFY(rig.detect());

    // As in the program: the download runs inside the application's event loop, and closing
    // the window must let that loop return.
    QTimer::singleShot(0, &rig.window, [&] { rig.flash(path); });
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (rig.device.record().blocks.size() >= 5) {
            closer.stop();
            rig.window.close();
        }
    });
    closer.start(5);
    QTimer::singleShot(20000, qApp, [] { QCoreApplication::exit(1); });
    QCOMPARE(QApplication::exec(), 0);

    const int sent = rig.device.record().received.size();
    QVERIFY2(rig.isIdle(), qPrintable(rig.idleReport()));
    QTest::qWait(300);
    const devicesim::Record record = rig.device.record();
    QCOMPARE(record.received.size(), sent);
    QVERIFY(record.blocks.size() < 10);
    QVERIFY(rig.answerer.boxes.isEmpty());
}

QTEST_MAIN(TestDownloadBlocks)
#include "tst_download_blocks.moc"
