#include "engine/flash/flashjob.h"
#include "engine/link/portlinks.h"
#include "windowrig.h"

#include <QDateTime>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTest>

#include <map>
#include <string>

// Every device behaviour against both engines: the window (its nested block loop) and the
// asynchronous job behind vantyx-flash. Both must leave the device with the same bytes after
// the detection and end in the same class of outcome, in time; the window also with the box
// its ending shows and its idle state. A new behaviour is a new row here. The window's rows run
// in shards (CONFORMANCE_SHARD=K/N: every Nth row from the Kth), the job's all at once.
class TestConformance : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void window_data() { table(); }
    void window();
    void job();
    void shardsCoverTheTable();

private:
    enum class Outcome { Sent, Failed, NotDetected };
    // What the window shows at the end: the styled notice or the standard warning box.
    enum class Box { Notice, Warning, Unchecked };
    struct Row
    {
        devicesim::Script script;
        Outcome outcome;
        QByteArray received; // after the detection
        // A failure comes this long after the host's last bytes: at once (0), or by the limit
        // of the reply awaited then.
        int failsAfterMs = 0;
        Box box = Box::Warning;
    };
    static std::map<std::string, Row> rows(const QByteArray &image);
    // What a row's board's record says of it, in both engines (a beginning where the rest is
    // the device's or the system's own words); empty for a board that got its image.
    static QString recordMessage(const std::string &row);
    // The window's rows in this process's shard, in the table's order.
    static QStringList shard(int k, int n);
    void table();
    // What the device saw decides between a failed download and none at all.
    static Outcome classOf(bool sent, const devicesim::Record &record);
    static QString describe(Outcome outcome);
    // Empty when a failure at `failedAt` came as soon as `row` says.
    static QString timingFault(const Row &row, const devicesim::Record &record, qint64 failedAt,
                               int slackMs);

    QTemporaryDir dir;
    QByteArray image;
    QString imagePath;
};

void TestConformance::initTestCase()
{
    image = patternImage(6 * 256 + 10, 11); // seven blocks, the last padded
    imagePath = writeFile(dir.path(), QStringLiteral("image.bin"), image);
}

std::map<std::string, TestConformance::Row> TestConformance::rows(const QByteArray &image)
{
    const QByteArray all = expectedDownload(image);
    const auto upToBlock = [&](int blocks) { return all.left(8 + blocks * 257); };
    const QByteArray frame1 = all.mid(8 + 257, 257);
    const auto answer = [](int atBlock, const QByteArray &reply) {
        devicesim::Script script;
        script.blockReply = [atBlock, reply](int block, int, bool ok) {
            return block == atBlock ? reply : ok ? devicesim::ack : devicesim::resend;
        };
        return script;
    };
    std::map<std::string, Row> table;
    table["normal"] = {{}, Outcome::Sent, all, 0, Box::Notice};

    devicesim::Script resends;
    resends.blockReply = [](int block, int attempt, bool) {
        return block == 1 && attempt < 3 ? devicesim::resend : devicesim::ack;
    };
    table["resends"] = {resends, Outcome::Sent,
                        upToBlock(2) + frame1.repeated(3) + all.mid(8 + 2 * 257), 0, Box::Notice};
    // Replies to block 2 that are no reply: the download fails there, nothing goes after it.
    table["bad reply"] = {answer(2, "Q"), Outcome::Failed, upToBlock(3)};
    table["14 14"] = {answer(2, QByteArray("\x14\x14", 2)), Outcome::Failed, upToBlock(3)};
    table["garbage flood"] = {answer(2, patternImage(300, 3)), Outcome::Failed, upToBlock(3)};
    table["OK in the blocks"] = {answer(2, "OK"), Outcome::Failed, upToBlock(3), 2000};
    table["endless 0x28"] = {answer(1, devicesim::resend), Outcome::Failed,
                             upToBlock(2) + frame1.repeated(31)};

    devicesim::Script script;
    script.silentAfterStart = true;
    table["silent after start"] = {script, Outcome::Failed, all.left(4), 5000, Box::Notice};
    script = {};
    script.silentAfterSize = true;
    table["silent after size"] = {script, Outcome::Failed, all.left(8), 5000};
    script = {};
    script.silentFromBlock = 3;
    table["silent after block 3"] = {script, Outcome::Failed, upToBlock(4), 2000};
    script = {};
    script.splitStartReply = true;
    table["OK split"] = {script, Outcome::Failed, all.left(4), 5000, Box::Notice};
    // Either side of the start command's limit: more than 5000 ms in both engines.
    script = {};
    script.startReplyDelayMs = 4600;
    table["OK to start at 4.6 s"] = {script, Outcome::Sent, all, 0, Box::Notice};
    script.startReplyDelayMs = 5400;
    table["OK to start at 5.4 s"] = {script, Outcome::Failed, all.left(4), 5000, Box::Notice};
    script = {};
    script.secondWakeUpAnswerMs = 4700; // left on the line from the detection
    table["stale OK"] = {script, Outcome::Sent, all, 0, Box::Notice};
    script = {};
    script.unplugAtWakeUp = 1;
    table["unplug at wake-up"] = {script, Outcome::NotDetected, {}, 0, Box::Unchecked};
    script = {};
    script.unplugAfterStart = true;
    table["unplug after start"] = {script, Outcome::Failed, all.left(4)};
    script = {};
    script.unplugAfterSize = true;
    table["unplug after size"] = {script, Outcome::Failed, all.left(8)};
    script = {};
    script.unplugAfterBlock = 2;
    table["unplug after block 2"] = {script, Outcome::Failed, upToBlock(3)};

    return table;
}

QString TestConformance::recordMessage(const std::string &row)
{
    const std::map<std::string, QString> messages{
        {"normal", {}},
        {"resends", {}},
        {"OK to start at 4.6 s", {}},
        {"stale OK", {}},
        {"bad reply", QStringLiteral("the device answered block 2 with 1 byte: 51")},
        {"14 14", QStringLiteral("the device answered block 2 with 2 bytes: 14 14")},
        {"garbage flood", QStringLiteral("the device answered block 2 with ")},
        {"OK in the blocks", QStringLiteral("no reply to block 2 within 2 s")},
        {"endless 0x28", QStringLiteral("the device asked for block 1 again 32 times in a row")},
        {"silent after start", QStringLiteral("no OK to the start command within 5 s")},
        {"silent after size", QStringLiteral("no OK to the size word within 5 s")},
        {"silent after block 3", QStringLiteral("no reply to block 3 within 2 s")},
        {"OK split", QStringLiteral("no OK to the start command within 5 s")},
        {"OK to start at 5.4 s", QStringLiteral("no OK to the start command within 5 s")},
        {"unplug at wake-up", QStringLiteral("lost the port: ")},
        {"unplug after start", QStringLiteral("lost the port: ")},
        {"unplug after size", QStringLiteral("lost the port: ")},
        {"unplug after block 2", QStringLiteral("lost the port: ")},
    };
    const auto message = messages.find(row);
    return message == messages.end() ? QStringLiteral("(no message in the table)")
                                     : message->second;
}

QStringList TestConformance::shard(int k, int n)
{
    QStringList names;
    int index = 0;
    for (const auto &[name, row] : rows(QByteArray(10, 'x')))
        if (n == 0 || index++ % n == k - 1)
            names << QString::fromStdString(name);
    return names;
}

void TestConformance::table()
{
    // K/N from CTest; all rows when run by hand.
    const QStringList given = qEnvironmentVariable("CONFORMANCE_SHARD").split(QLatin1Char('/'));
    const int n = given.size() == 2 ? given.at(1).toInt() : 0;
    QTest::addColumn<QString>("row");
    const QStringList names = shard(given.at(0).toInt(), n);
    for (const QString &name : names)
        QTest::newRow(qPrintable(name)) << name;
}

void TestConformance::shardsCoverTheTable()
{
    // Every row in exactly one of the window's shards, so none runs against one engine only.
    const QStringList given = qEnvironmentVariable("CONFORMANCE_SHARD").split(QLatin1Char('/'));
    if (given.size() != 2)
        QSKIP("CONFORMANCE_SHARD=0/N names the shards' count (CTest sets it)");
    QStringList covered;
    for (int k = 1; k <= given.at(1).toInt(); ++k)
        covered += shard(k, given.at(1).toInt());
    QStringList all = shard(0, 0);
    covered.sort();
    all.sort();
    QCOMPARE(covered, all);
}

TestConformance::Outcome TestConformance::classOf(bool sent, const devicesim::Record &record)
{
    if (sent)
        return Outcome::Sent;
    return record.startCommands.isEmpty() ? Outcome::NotDetected : Outcome::Failed;
}

QString TestConformance::describe(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Sent:
        return QStringLiteral("sent");
    case Outcome::Failed:
        return QStringLiteral("failed");
    case Outcome::NotDetected:
        return QStringLiteral("not detected");
    }
    return {};
}

QString TestConformance::timingFault(const Row &row, const devicesim::Record &record,
                                     qint64 failedAt, int slackMs)
{
    if (row.outcome != Outcome::Failed)
        return {};
    const double after = msBetween(record.lastReceivedAt, failedAt);
    // Room for a loaded machine; a failure at once and one by a limit stay far apart.
    const bool inTime = row.failsAfterMs == 0
                            ? after < slackMs
                            : after >= row.failsAfterMs && after < row.failsAfterMs + slackMs;
    return inTime ? QString()
                  : QStringLiteral("failed %1 ms after the last bytes, not %2")
                        .arg(after, 0, 'f', 0)
                        .arg(row.failsAfterMs == 0 ? QStringLiteral("at once")
                                                   : QString::number(row.failsAfterMs));
}

void TestConformance::window()
{
    QFETCH(QString, row);
    const Row expected = rows(image).at(row.toStdString());
    Rig rig(expected.script);
    // The box stays up a while: the record is the download's, written before it opens.
    constexpr int boxHeldMs = 800;
    rig.answerer.holdMs = boxHeldMs;
    QTemporaryDir records;
    rig.window.setRecordsFolder(records.path());
    bool sent = false;
    const bool flashed = rig.detect();
    if (flashed) {
        rig.flash(imagePath);
        QTRY_VERIFY_WITH_TIMEOUT(rig.answerer.count(QStringLiteral("Firmware sent")) +
                                         rig.answerer.count(QStringLiteral("Failed to flash!")) >
                                     0,
                                 12000);
        sent = rig.answerer.count(QStringLiteral("Firmware sent")) == 1;
    }
    QTRY_VERIFY2(rig.isIdle(), qPrintable(rig.idleReport()));
    const QDateTime dismissed = QDateTime::currentDateTime();
    const devicesim::Record record = rig.device.record();
    QCOMPARE(describe(classOf(sent, record)), describe(expected.outcome));
    QCOMPARE(afterDetection(record.received), expected.received);
    // Every download leaves its record, as vantyx-flash's: its result and the bytes taken.
    const QStringList files = QDir(records.path()).entryList(QDir::Files);
    QCOMPARE(files.size(), flashed ? 1 : 0);
    if (!files.isEmpty()) {
        QFile file(QDir(records.path()).filePath(files.first()));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = file.readAll().split('\n');
        QCOMPARE(lines.size(), 2);
        const QJsonObject board = QJsonDocument::fromJson(lines.first()).object();
        const QString result = board.value(QStringLiteral("result")).toString();
        QVERIFY2(sent
                     ? result == QStringLiteral("ok")
                     : result == QStringLiteral("failed") || result == QStringLiteral("port-error"),
                 qPrintable(result));
        QCOMPARE(board.value(QStringLiteral("port")).toString(), rig.device.portName());
        const QDateTime ended = QDateTime::fromString(
            board.value(QStringLiteral("ended")).toString(), Qt::ISODateWithMs);
        QVERIFY2(
            ended.msecsTo(dismissed) >= boxHeldMs - 100,
            qPrintable(
                QStringLiteral("ended %1 ms before the box went").arg(ended.msecsTo(dismissed))));
        // The cause the job's record names too.
        const QString message = board.value(QStringLiteral("message")).toString();
        const QString cause = recordMessage(row.toStdString());
        QVERIFY2(cause.isEmpty() ? message.isEmpty() : message.startsWith(cause),
                 qPrintable(message));
        if (sent)
            QCOMPARE(board.value(QStringLiteral("bytes_sent")).toInteger(),
                     qint64(paddedImage(image).size()));
    }
    // Every ending leaves the bar at 0.
    QCOMPARE(rig.window.findChild<QProgressBar *>(QStringLiteral("progressBar"))->value(), 0);
    if (expected.box == Box::Unchecked)
        return;
    // One box, the ending's own.
    QCOMPARE(rig.answerer.boxes.size(), 1);
    const ShownBox box = rig.answerer.boxes.last();
    if (expected.box == Box::Warning) {
        QCOMPARE(warningBoxFault(box, &rig.window), QString());
    } else {
        QCOMPARE(box.title, QStringLiteral("Information"));
        QCOMPARE(box.parent, nullptr);
        QCOMPARE(box.icon, sent ? QMessageBox::Information : QMessageBox::Warning);
    }
    if (!sent)
        QCOMPARE(timingFault(expected, record, box.seenAt, 600), QString());
}

void TestConformance::job()
{
    // Every row at once, each on its own device: the job's engine runs many side by side.
    const auto table = rows(image);
    auto padded = std::make_shared<const PaddedImage>(*readPaddedImage(imagePath));
    std::map<std::string, std::unique_ptr<devicesim::Device>> devices;
    std::map<std::string, std::unique_ptr<FlashJob>> jobs;
    std::map<std::string, qint64> endedAt;
    for (const auto &[name, row] : table) {
        auto device = std::make_unique<devicesim::Device>(row.script);
        QString error;
        QVERIFY2(device->openPty(&error), qPrintable(error));
        jobs[name] = std::make_unique<FlashJob>(
            device->portName(), linkForPort(device->portName(), nullptr), padded, 3000);
        connect(jobs[name].get(), &FlashJob::finished, this,
                [&endedAt, name = name] { endedAt[name] = devicesim::nowNs(); });
        devices[name] = std::move(device);
    }
    for (auto &[name, job] : jobs)
        job->start();
    for (auto &[name, job] : jobs)
        QTRY_VERIFY_WITH_TIMEOUT(job->result() != BoardResult::Pending, 20000);

    for (const auto &[name, row] : table) {
        const devicesim::Record record = devices.at(name)->record();
        const FlashJob &job = *jobs.at(name);
        const QString seen = describe(classOf(job.result() == BoardResult::Ok, record));
        QVERIFY2(seen == describe(row.outcome),
                 qPrintable(QStringLiteral("%1: %2, not %3 (%4)")
                                .arg(QString::fromStdString(name), seen, describe(row.outcome),
                                     job.message())));
        QVERIFY2(afterDetection(record.received) == row.received,
                 qPrintable(QStringLiteral("%1: the device received %2 bytes, not %3")
                                .arg(QString::fromStdString(name))
                                .arg(afterDetection(record.received).size())
                                .arg(row.received.size())));
        const QString cause = recordMessage(name);
        QVERIFY2(cause.isEmpty() ? job.message().isEmpty() : job.message().startsWith(cause),
                 qPrintable(QString::fromStdString(name) + QStringLiteral(": ") + job.message()));
        const QString late = timingFault(row, record, endedAt.at(name), 1500);
        QVERIFY2(late.isEmpty(),
                 qPrintable(QString::fromStdString(name) + QStringLiteral(": ") + late));
    }
}

QTEST_MAIN(TestConformance)
#include "tst_conformance.moc"
