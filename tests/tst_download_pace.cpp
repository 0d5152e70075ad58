#include "testrig.h"

#include <QProgressBar>
#include <QTemporaryDir>
#include <QTest>

class TestDownloadPace : public QObject
{
    Q_OBJECT

private slots:
    void quickSecondDownloadIsNotFailedByFirstWatchdog();
    void slowDeviceCostsLittleCpu();
    void fastDeviceTime();

private:
    QTemporaryDir dir;
};

void TestDownloadPace::quickSecondDownloadIsNotFailedByFirstWatchdog()
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

void TestDownloadPace::slowDeviceCostsLittleCpu()
{
    devicesim::Script script;
    script.blockDelayMs = 20;
    Rig rig(script);
    const QByteArray image = patternImage(128 * 256, 5);
    const QString path = writeFile(dir.path(), QStringLiteral("slow.bin"), image);
    QVERIFY(rig.detect());

    // Sampled on the window's own thread (the device has one of its own) as the bar moves: from the
    // first acknowledged block to the last, so the settling wait and the closing notice are not
    // counted.
    auto *progress = rig.window.findChild<QProgressBar *>(QStringLiteral("progressBar"));
    double cpuAtFirst = -1, cpuAtLast = -1;
    qint64 firstAt = 0, lastAt = 0;
    QObject::connect(progress, &QProgressBar::valueChanged, [&](int value) {
        if (value == 256) {
            cpuAtFirst = cpuSeconds(CpuOf::Thread);
            firstAt = devicesim::nowNs();
        } else if (value == image.size() - 1) {
            cpuAtLast = cpuSeconds(CpuOf::Thread);
            lastAt = devicesim::nowNs();
        }
    });
    rig.flash(path);
    QVERIFY(rig.waitForBox(QStringLiteral("Firmware sent"), 15000));
    QCOMPARE(rig.device.record().completedImage, image);
    QVERIFY(cpuAtFirst >= 0 && cpuAtLast >= 0);

    const double transfer = msBetween(firstAt, lastAt) / 1000;
    const double share = (cpuAtLast - cpuAtFirst) / transfer;
    qInfo("slow device: %.3f s of blocks, %.4f CPU s, %.4f CPU s per s", transfer,
          cpuAtLast - cpuAtFirst, share);
    // A wait that spins costs a whole core. The benchmark measures the figure itself, alone
    // on the machine; here other suites run alongside, so the bound leaves room.
#ifdef FLASHLOADER_SANITIZED
    QVERIFY2(share < 0.30, qPrintable(QString::number(share)));
#else
    QVERIFY2(share < 0.10, qPrintable(QString::number(share)));
#endif
}

void TestDownloadPace::fastDeviceTime()
{
    Rig rig;
    const QByteArray image = patternImage(64 * 1024, 9);
    const QString path = writeFile(dir.path(), QStringLiteral("fast.bin"), image);
    QVERIFY(rig.detect());
    rig.flash(path);
    QVERIFY(rig.waitForBox(QStringLiteral("Firmware sent"), 20000));
    const devicesim::Record record = rig.device.record();
    QCOMPARE(record.completedImage, image);
    QCOMPARE(afterDetection(record.received), expectedDownload(image));
    const double transfer =
        msBetween(record.startCommands.first(), record.downloads.first().lastReplyAt) / 1000;
    qInfo("64 KiB against a zero-delay device: %.3f s from the start command, %.0f blocks/s",
          transfer, 256 / transfer);
}

QTEST_MAIN(TestDownloadPace)
#include "tst_download_pace.moc"
