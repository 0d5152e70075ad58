#include "windowrig.h"

#include <QProgressBar>
#include <QTemporaryDir>
#include <QTest>

namespace {

// A spinning notifier costs a whole core; an idle window a few per cent at the most.
#ifdef FLASHLOADER_SANITIZED
constexpr double idleCpuBound = 0.30;
#else
constexpr double idleCpuBound = 0.10;
#endif

} // namespace

class TestDownloadPace : public QObject
{
    Q_OBJECT

private slots:
    void unpluggedEndsAtOnce_data();
    void unpluggedEndsAtOnce();
    void slowDeviceCostsLittleCpu();
    void fastDeviceTime();

private:
    QTemporaryDir dir;
    std::unique_ptr<Operator> updater; // one window through the rows, as an operator's day
};

void TestDownloadPace::unpluggedEndsAtOnce_data()
{
    QTest::addColumn<int>("afterBlock"); // -1: right after the start command; -2: never
    QTest::newRow("after block 20") << 20;
    QTest::newRow("after block 100") << 100;
    QTest::newRow("after the start command") << -1;
    QTest::newRow("then a new port works") << -2;
}

void TestDownloadPace::unpluggedEndsAtOnce()
{
    QFETCH(int, afterBlock);
    devicesim::Script script;
    script.unplugAfterStart = afterBlock == -1;
    script.unplugAfterBlock = afterBlock;
    if (!updater)
        updater = std::make_unique<Operator>();
    const std::unique_ptr<devicesim::Device> device = plugIn(*updater, script);
    const QByteArray image = patternImage(128 * 256, 8);
    QVERIFY(updater->detect());
    updater->answerer.holdMs = 500;
    updater->flash(writeFile(dir.path(), QStringLiteral("unplug.bin"), image));
    const bool unplugs = afterBlock != -2;
    QVERIFY(updater->waitForBox(
        unplugs ? QStringLiteral("Failed to flash!") : QStringLiteral("Firmware sent"), 15000));
    QTRY_VERIFY2(updater->isIdle(), qPrintable(updater->idleReport()));
    updater->answerer.holdMs = 0;

    const devicesim::Record record = device->record();
    const ShownBox box = updater->answerer.boxes.last();
    if (!unplugs) {
        QCOMPARE(record.completedImage, image);
        updater.reset(); // its answerer would answer the other tests' dialogs too
        return;
    }
    QCOMPARE(warningBoxFault(box, &updater->window), QString());
    const qsizetype sent = afterBlock < 0 ? 4 : 8 + (afterBlock + 1) * 257;
    QCOMPARE(afterDetection(record.received), expectedDownload(image).left(sent));
    const double toBox = msBetween(record.unpluggedAt, box.seenAt);
    qInfo("unplugged: the box %.1f ms later, %.4f CPU s per s while it was open", toBox,
          box.cpuWhileOpen);
    QVERIFY2(toBox >= 0 && toBox < 100, qPrintable(QString::number(toBox)));
    QVERIFY2(box.cpuWhileOpen < idleCpuBound, qPrintable(QString::number(box.cpuWhileOpen)));
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
    QVERIFY2(share < idleCpuBound, qPrintable(QString::number(share)));
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
