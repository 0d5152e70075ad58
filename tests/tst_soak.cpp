#include "engine/flash/flashjob.h"
#include "engine/link/portlinks.h"
#include "windowrig.h"

#include <QProgressBar>
#include <QTemporaryDir>
#include <QTest>

#include <map>
#include <memory>
#include <random>

// Randomized downloads against a misbehaving device, by the window and by vantyx-flash's job in
// turn (odd seeds go to the job). Every trial prints its seed and engine; replay one with
// SOAK_SEED=<seed> SOAK_RUNS=1. SOAK_SECONDS bounds the whole run (default 150).

namespace {

struct Trial
{
    quint32 seed = 0;
    int imageSize = 0;
    devicesim::Script script;
    bool shouldSucceed = true;
    int endlessResendBlock = -1; // the block a device asks for again and again
    QString description;
};

Trial makeTrial(quint32 seed)
{
    std::mt19937 random(seed);
    auto pick = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    Trial trial;
    trial.seed = seed;
    static const int edgeSizes[] = {0, 1, 255, 256, 257, 1000};
    switch (pick(0, 3)) {
    case 0:
        trial.imageSize = edgeSizes[pick(0, 5)];
        break;
    case 1:
        trial.imageSize = pick(2, 8192);
        break;
    case 2:
        trial.imageSize = pick(8193, 64 * 1024);
        break;
    default:
        trial.imageSize = pick(64 * 1024, 400 * 1024);
        break;
    }
    const int blocks = (trial.imageSize + 255) / 256;
    devicesim::Script &script = trial.script;
    QStringList faults;

    if (pick(0, 1)) {
        const double rate = pick(1, 30) / 100.0;
        auto chance = std::make_shared<std::mt19937>(seed ^ 0x5eed);
        script.blockReply = [chance, rate](int, int attempt, bool ok) {
            const bool again =
                attempt < 5 && std::uniform_real_distribution<double>(0, 1)(*chance) < rate;
            return !ok || again ? devicesim::resend : devicesim::ack;
        };
        faults << QStringLiteral("resends %1%").arg(rate * 100);
    }
    if (blocks > 0 && pick(0, 2) == 0) {
        // A few slow replies, some close to the 2 s limit, none past it.
        auto delays = std::make_shared<std::map<int, int>>();
        for (int i = pick(1, 3); i > 0; --i)
            (*delays)[pick(0, blocks - 1)] = pick(100, 1500);
        script.blockDelay = [delays](int block, int attempt) {
            const auto found = delays->find(block);
            return found != delays->end() && attempt == 0 ? found->second : 0;
        };
        faults << QStringLiteral("%1 slow blocks").arg(delays->size());
    }
    switch (pick(0, 9)) {
    case 0: {
        const int bad = pick(0, qMax(0, blocks - 1));
        auto inner = script.blockReply;
        const QByteArray garbage = QByteArray(1, char(pick(0x30, 0x7A))).repeated(pick(1, 3));
        script.blockReply = [inner, bad, garbage](int block, int attempt, bool ok) {
            if (block == bad)
                return garbage;
            return inner ? inner(block, attempt, ok) : ok ? devicesim::ack : devicesim::resend;
        };
        trial.shouldSucceed = blocks == 0;
        faults << QStringLiteral("garbage %1 on block %2")
                      .arg(QString::fromLatin1(garbage.toHex()))
                      .arg(bad);
        break;
    }
    case 1:
        script.silentAfterStart = true;
        trial.shouldSucceed = false;
        faults << QStringLiteral("silent after start");
        break;
    case 2:
        script.silentAfterSize = true;
        trial.shouldSucceed = false;
        faults << QStringLiteral("silent after size word");
        break;
    case 3:
        script.silentFromBlock = pick(0, blocks);
        trial.shouldSucceed = script.silentFromBlock >= blocks;
        faults << QStringLiteral("silent from block %1").arg(script.silentFromBlock);
        break;
    case 4:
        script.splitStartReply = true;
        trial.shouldSucceed = false;
        faults << QStringLiteral("split OK");
        break;
    case 5:
        // Pulled out after the start command or after one of the blocks.
        script.unplugAfterStart = blocks == 0 || pick(0, 2) == 0;
        script.unplugAfterBlock = script.unplugAfterStart ? -1 : pick(0, blocks - 1);
        trial.shouldSucceed = false;
        faults << (script.unplugAfterStart
                       ? QStringLiteral("unplugged after start")
                       : QStringLiteral("unplugged after block %1").arg(script.unplugAfterBlock));
        break;
    case 6: {
        if (blocks == 0)
            break;
        const int endless = trial.endlessResendBlock = pick(0, blocks - 1);
        auto inner = script.blockReply;
        script.blockReply = [inner, endless](int block, int attempt, bool ok) {
            if (block == endless)
                return devicesim::resend;
            return inner ? inner(block, attempt, ok) : ok ? devicesim::ack : devicesim::resend;
        };
        trial.shouldSucceed = false;
        faults << QStringLiteral("0x28 for ever on block %1").arg(endless);
        break;
    }
    default:
        break;
    }
    if (trial.imageSize == 0)
        trial.shouldSucceed = false; // refused: nothing to send
    trial.description =
        QStringLiteral("%1 bytes, %2")
            .arg(trial.imageSize)
            .arg(faults.isEmpty() ? QStringLiteral("clean") : faults.join(QStringLiteral(", ")));
    return trial;
}

quint32 envNumber(const char *name, quint32 fallback)
{
    bool ok = false;
    const quint32 value = qEnvironmentVariable(name).toUInt(&ok);
    return ok ? value : fallback;
}

// Waits for `done` for as long as the device keeps receiving blocks: the bound is on silence,
// not on the whole download, whose time depends on the machine (sanitizers, a loaded CI).
bool waitWhileAdvancing(const devicesim::Device &device, const std::function<bool()> &done,
                        int silenceMs)
{
    qsizetype seen = -1;
    QDeadlineTimer silence;
    while (!done()) {
        const qsizetype received = device.blocksReceived();
        if (received != seen) {
            seen = received;
            silence.setRemainingTime(silenceMs);
        } else if (silence.hasExpired()) {
            return false;
        }
        QTest::qWait(10);
    }
    return true;
}

} // namespace

class TestSoak : public QObject
{
    Q_OBJECT

private slots:
    void randomizedDownloads();
};

void TestSoak::randomizedDownloads()
{
    const quint32 base = envNumber("SOAK_SEED", std::random_device()());
    const quint32 runs = envNumber("SOAK_RUNS", 1000);
    const quint32 seconds = envNumber("SOAK_SECONDS", 150);
    qInfo("soak: first seed %u, %u s at most", base, seconds);

    QTemporaryDir dir;
    auto rig = std::make_unique<Rig>();
    QDeadlineTimer budget(qint64(seconds) * 1000);
    int done = 0, succeeded = 0;
    for (quint32 i = 0; i < runs && !budget.hasExpired(); ++i) {
        const Trial trial = makeTrial(base + i);
        qInfo("trial %u seed %u (%s): %s", i, trial.seed,
              trial.seed % 2 == 1 && trial.imageSize > 0 ? "job" : "window",
              qPrintable(trial.description));
        const QByteArray image = patternImage(trial.imageSize, trial.seed);
        const QString path = writeFile(dir.path(), QStringLiteral("soak.bin"), image);

        if (rig->device.record().unpluggedAt != 0)
            rig = std::make_unique<Rig>(); // the last trial pulled the line out for good
        rig->device.reset();
        rig->device.setScript(trial.script);
        const int completedBefore = rig->device.record().completedDownloads();
        const qsizetype blocksBefore = rig->device.record().blocks.size();
        const int boxesBefore = int(rig->answerer.boxes.size());
        // An empty image never reaches a job: vantyx-flash refuses it before any port opens.
        const bool byJob = trial.seed % 2 == 1 && trial.imageSize > 0;
        // Settling, 5 s for each reply before the blocks, then each block's 2 s limit at most
        // for the slow ones: the longest the device may go without a new block.
        const int silenceMs = 12000 + 2100 * 3;
        const QString stalled =
            QStringLiteral("seed %1: nothing received for %2 ms").arg(trial.seed).arg(silenceMs);
        bool sent = false;
        qint64 endedAt = 0;
        if (byJob) {
            auto padded = std::make_shared<const PaddedImage>(*readPaddedImage(path));
            FlashJob job(rig->device.portName(), linkForPort(rig->device.portName(), nullptr),
                         padded, 3000);
            QObject::connect(&job, &FlashJob::finished, [&] { endedAt = devicesim::nowNs(); });
            job.start();
            QVERIFY2(
                waitWhileAdvancing(
                    rig->device, [&] { return job.result() != BoardResult::Pending; }, silenceMs),
                qPrintable(stalled));
            sent = job.result() == BoardResult::Ok;
        } else {
            QVERIFY2(rig->detect(), "detection failed");
            rig->flash(path);
            QVERIFY2(waitWhileAdvancing(
                         rig->device,
                         [&] {
                             return rig->answerer.boxes.size() > boxesBefore &&
                                    !rig->window.isDownloading();
                         },
                         silenceMs),
                     qPrintable(stalled));
            sent = rig->answerer.boxes.last().text == QStringLiteral("Firmware sent");
            endedAt = rig->answerer.boxes.last().seenAt;
            QCOMPARE(rig->answerer.boxes.size(), boxesBefore + 1);
        }
        const devicesim::Record record = rig->device.record();
        const bool assembled = record.completedDownloads() == completedBefore + 1 &&
                               record.completedImage == paddedImage(image);
        QVERIFY2(sent == assembled, qPrintable(QStringLiteral("seed %1: shown %2, assembled %3")
                                                   .arg(trial.seed)
                                                   .arg(sent)
                                                   .arg(assembled)));
        QVERIFY2(sent == trial.shouldSucceed,
                 qPrintable(QStringLiteral("seed %1: outcome %2").arg(trial.seed).arg(sent)));
        // A pulled line ends the download at once; a device that asks again for ever, at the
        // bound on resends in a row.
        if (record.unpluggedAt != 0) {
            const double toEnd = msBetween(record.unpluggedAt, endedAt);
            QVERIFY2(toEnd < 500, qPrintable(QStringLiteral("seed %1: ended %2 ms after the unplug")
                                                 .arg(trial.seed)
                                                 .arg(toEnd)));
        }
        if (trial.endlessResendBlock >= 0) {
            const auto sends =
                std::count_if(record.blocks.cbegin() + blocksBefore, record.blocks.cend(),
                              [&](const devicesim::BlockRecord &b) {
                                  return b.index == trial.endlessResendBlock;
                              });
            QVERIFY2(sends == 32,
                     qPrintable(QStringLiteral("seed %1: %2 sends").arg(trial.seed).arg(sends)));
        }
        QVERIFY2(rig->isIdle(),
                 qPrintable(QStringLiteral("seed %1: %2").arg(trial.seed).arg(rig->idleReport())));
        ++done;
        succeeded += sent;
    }
    qInfo("soak: %d trials (window and job in turn), %d succeeded, %d failed as the device meant",
          done, succeeded, done - succeeded);
    QVERIFY(done > 0);
}

QTEST_MAIN(TestSoak)
#include "tst_soak.moc"
