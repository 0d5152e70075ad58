#include "windowrig.h"

#include <QProgressBar>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

class TestDownloadSuccess : public QObject
{
    Q_OBJECT

private slots:
    void imageArrivesByteExact_data();
    void imageArrivesByteExact();
    void resendRepeatsTheSameBlock();
    void quickSecondDownloadIsNotFailedByFirstWatchdog();

private:
    QTemporaryDir dir;
};

void TestDownloadSuccess::imageArrivesByteExact_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<QByteArray>("sizeWord");
    QTest::addColumn<int>("blocks");
    QTest::addColumn<int>("secondOkMs"); // a stray second "OK" this long after detection's
    QTest::addColumn<bool>("reentrant"); // readyRead() re-entering the slot, as on Windows
    const QByteArray four("\x00\x04\x00\x00", 4);
    QTest::newRow("1000 bytes, padded") << 1000 << four << 4 << 0 << false;
    QTest::newRow("512 bytes, unpadded")
        << 512 << QByteArray("\x00\x02\x00\x00", 4) << 2 << 0 << false;
    // Left in the port from before the start command, it must not be taken as its answer.
    QTest::newRow("stale second OK") << 1000 << four << 4 << 4700 << false;
    // Every reply handled once, by whichever call of serialRecieve() reads it, and one transfer.
    QTest::newRow("readyRead re-entering")
        << 5000 << QByteArray("\x00\x14\x00\x00", 4) << 20 << 0 << true;
    QTest::newRow("stale second OK, readyRead re-entering") << 1000 << four << 4 << 4700 << true;
}

void TestDownloadSuccess::imageArrivesByteExact()
{
    QFETCH(int, length);
    QFETCH(QByteArray, sizeWord);
    QFETCH(int, blocks);
    QFETCH(int, secondOkMs);
    QFETCH(bool, reentrant);

    const QByteArray image = patternImage(length, 7);
    const QString path = writeFile(dir.path(), QStringLiteral("image.bin"), image);
    devicesim::Script script;
    script.secondWakeUpAnswerMs = secondOkMs;
    if (reentrant)
        script.blockDelayMs = 5; // so that the re-entering calls, too, find replies waiting
    Rig rig(script);
    QVERIFY(rig.detect());
    std::optional<ReenteringReadyRead> reentering;
    if (reentrant)
        reentering.emplace(rig.window);
    rig.flash(path);
    QVERIFY(rig.waitForBox(QStringLiteral("Firmware sent"), 10000));

    const ShownBox box = rig.answerer.boxes.last();
    QCOMPARE(box.icon, QMessageBox::Information);
    QCOMPARE(box.title, QStringLiteral("Information"));
    QCOMPARE(rig.answerer.boxes.size(), 1);

    const devicesim::Record record = rig.device.record();
    QCOMPARE(afterDetection(record.received), expectedDownload(image));
    QCOMPARE(record.sizeWords, QList<QByteArray>{sizeWord});
    QCOMPARE(record.blocks.size(), blocks);
    for (int i = 0; i < blocks; ++i) {
        QCOMPARE(record.blocks.at(i).index, i);
        QVERIFY(record.blocks.at(i).checksumOk);
    }
    QCOMPARE(record.completedDownloads(), 1);
    QCOMPARE(record.completedImage, paddedImage(image));
    if (length == 1000)
        QCOMPARE(record.blocks.at(3).data.right(24), QByteArray(24, char(0xFF)));

    // The start command waits out the settling time after the detection's reply.
    QCOMPARE(record.startCommands.size(), 1);
    const double settled = msBetween(record.wakeUpAnswers.last(), record.startCommands.first());
    QVERIFY2(settled > 5000, qPrintable(QString::number(settled)));

    QTRY_VERIFY2(rig.isIdle(), qPrintable(rig.idleReport()));
    auto *progress = rig.window.findChild<QProgressBar *>(QStringLiteral("progressBar"));
    QCOMPARE(progress->maximum(), blocks * 256 - 1);
    QCOMPARE(progress->value(), 0);
}

void TestDownloadSuccess::resendRepeatsTheSameBlock()
{
    devicesim::Script script;
    script.blockReply = [](int block, int attempt, bool ok) {
        return block == 1 && attempt < 3 ? devicesim::resend : ok ? devicesim::ack : QByteArray();
    };
    Rig rig(script);
    auto *progress = rig.window.findChild<QProgressBar *>(QStringLiteral("progressBar"));
    QList<int> shown;
    QObject::connect(progress, &QProgressBar::valueChanged, [&](int value) { shown << value; });

    const QByteArray image = patternImage(768, 3);
    QVERIFY(rig.detect());
    rig.flash(writeFile(dir.path(), QStringLiteral("resend.bin"), image));
    QVERIFY(rig.waitForBox(QStringLiteral("Firmware sent"), 10000));

    const devicesim::Record record = rig.device.record();
    QCOMPARE(record.blocks.size(), 6);
    QCOMPARE(record.downloads.last().resends, 3);
    for (int i = 1; i <= 4; ++i) {
        QCOMPARE(record.blocks.at(i).index, 1);
        QCOMPARE(record.blocks.at(i).attempt, i - 1);
        QCOMPARE(record.blocks.at(i).data, image.mid(256, 256));
        QVERIFY(record.blocks.at(i).checksumOk);
    }
    QCOMPARE(record.completedImage, image);
    // The bar shows the offset of the block each reply was for, then the end, then zero.
    QCOMPARE(shown, QList<int>({256, 512, 767, 0}));
    QTRY_VERIFY2(rig.isIdle(), qPrintable(rig.idleReport()));
}

void TestDownloadSuccess::quickSecondDownloadIsNotFailedByFirstWatchdog()
{
    Rig rig;
    const QByteArray first = patternImage(256, 1);
    const QByteArray second = patternImage(300, 2);

    QVERIFY(rig.detect());
    rig.flash(writeFile(dir.path(), QStringLiteral("first.bin"), first));
    QVERIFY(rig.waitForBox(QStringLiteral("Firmware sent"), 5000));
    QVERIFY(rig.detect());
    const qint64 secondPressed = devicesim::nowNs();
    rig.flash(writeFile(dir.path(), QStringLiteral("second.bin"), second));
    QVERIFY(rig.waitForBox(QStringLiteral("Firmware sent"), 5000));

    devicesim::Record record = rig.device.record();
    QCOMPARE(record.startCommands.size(), 2);
    // The case that matters: Flash again before the first start command's 5 s ran out.
    QVERIFY(msBetween(record.startCommands.first(), secondPressed) < 5000);
    QCOMPARE(record.completedDownloads(), 2);
    QCOMPARE(record.completedImage, paddedImage(second));

    // Past both start commands' 5 s marks, nothing has failed either download.
    QTest::qWait(int(5500 - msBetween(record.startCommands.last(), devicesim::nowNs())));
    QCOMPARE(rig.answerer.count(QStringLiteral("Failed to flash!")), 0);
    QCOMPARE(rig.answerer.boxes.size(), 2);
    QVERIFY2(rig.isIdle(), qPrintable(rig.idleReport()));
}

QTEST_MAIN(TestDownloadSuccess)
#include "tst_download_success.moc"
