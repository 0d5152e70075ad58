#include "windowrig.h"

#include <QApplication>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

// Downloads that fail in the blocks in ways only the window meets (readyRead() re-entering its
// slot), and one that the operator cuts short. The device behaviours both engines meet are rows
// of tst_conformance.
class TestDownloadBlocks : public QObject
{
    Q_OBJECT

private slots:
    void noReply_data();
    void noReply();
    void closingTheWindowAborts(); // last: it ends the application's event loop

private:
    QTemporaryDir dir;
};

void TestDownloadBlocks::noReply_data()
{
    QTest::addColumn<QByteArray>("reply"); // to block 2; empty for none
    QTest::addColumn<bool>("reentrant");   // readyRead() re-entering the slot, as on Windows
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
