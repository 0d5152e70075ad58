#include "testrig.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <thread>

#include <csignal>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

// vantyx-flash as a bench uses it: a process of its own against simulated devices on ptys.
class TestFlashTool : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void benchOfBoards();
    void interrupted_data();
    void interrupted();
    void boardsComeFirst_data();
    void boardsComeFirst();
    void refusedBeforeAnyPort_data();
    void refusedBeforeAnyPort();
    void watchFlashesEachArrival_data();
    void watchFlashesEachArrival();
    void logSurvivesAKill();
    void remotePorts_data();
    void remotePorts();

private:
    QString start(QProcess &tool, const QStringList &arguments);
    static QString sha256(const QByteArray &bytes)
    {
        return QString::fromLatin1(
            QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
    }
    QTemporaryDir dir;
    QString image;
    QByteArray imageBytes;
    QTcpServer metricsInUse; // a port another program serves on
};

void TestFlashTool::initTestCase()
{
    imageBytes = patternImage(40 * 256 + 100, 21);
    image = writeFile(dir.path(), QStringLiteral("image.bin"), imageBytes);
    // Readable by the unprivileged user one row runs as.
    QVERIFY(::chmod(dir.path().toLocal8Bit().constData(), 0755) == 0);
    QVERIFY(::chmod(image.toLocal8Bit().constData(), 0644) == 0);
}

QString TestFlashTool::start(QProcess &tool, const QStringList &arguments)
{
    tool.start(flashToolPath(), arguments);
    return tool.waitForStarted() ? QString() : tool.errorString();
}

void TestFlashTool::benchOfBoards()
{
    // Two good boards, one that falls silent after block 12, one pulled out after block 20.
    devicesim::Script silent;
    silent.silentFromBlock = 12;
    devicesim::Script unplugged;
    unplugged.unplugAfterBlock = 20;
    std::vector<std::unique_ptr<devicesim::Device>> devices;
    QStringList arguments;
    for (const devicesim::Script &script :
         {devicesim::Script(), silent, devicesim::Script(), unplugged}) {
        devices.push_back(std::make_unique<devicesim::Device>(script));
        QString error;
        QVERIFY2(devices.back()->openPty(&error), qPrintable(error));
        arguments << QStringLiteral("--port") << devices.back()->portName();
    }
    const QString json = dir.filePath(QStringLiteral("bench.json"));
    QProcess tool;
    QCOMPARE(start(tool, arguments + QStringList{QStringLiteral("--json"), json, image}),
             QString());
    QVERIFY(tool.waitForFinished(20000));
    QCOMPARE(tool.exitCode(), 1);

    const QByteArray padded = paddedImage(imageBytes);
    for (int good : {0, 2}) {
        const devicesim::Record record = devices.at(size_t(good))->record();
        QCOMPARE(record.completedImage, padded);
        QCOMPARE(afterDetection(record.received), expectedDownload(imageBytes));
    }
    // The others got exactly what came before their fault, and nothing after it.
    QCOMPARE(afterDetection(devices.at(1)->record().received),
             expectedDownload(imageBytes).left(8 + 13 * 257));
    QCOMPARE(afterDetection(devices.at(3)->record().received),
             expectedDownload(imageBytes).left(8 + 21 * 257));

    QFile file(json);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QJsonObject report = QJsonDocument::fromJson(file.readAll()).object();
    QCOMPARE(report.value(QStringLiteral("image")).toObject(),
             (QJsonObject{{QStringLiteral("path"), image},
                          {QStringLiteral("bytes"), imageBytes.size()},
                          {QStringLiteral("padded"), padded.size()},
                          {QStringLiteral("sha256"), sha256(imageBytes)}}));
    QCOMPARE(report.value(QStringLiteral("succeeded")).toInt(), 2);
    QCOMPARE(report.value(QStringLiteral("failed")).toInt(), 2);
    const QJsonArray boards = report.value(QStringLiteral("devices")).toArray();
    QCOMPARE(boards.size(), 4);
    const QStringList results{QStringLiteral("ok"), QStringLiteral("failed"), QStringLiteral("ok"),
                              QStringLiteral("port-error")};
    const QList<int> blocks{41, 12, 41, 20};
    for (const QJsonValue &value : boards) {
        const QJsonObject board = value.toObject();
        const int at = arguments.indexOf(board.value(QStringLiteral("port")).toString()) / 2;
        QVERIFY(at >= 0);
        QVERIFY2(board.value(QStringLiteral("result")).toString() == results.at(at),
                 qPrintable(board.value(QStringLiteral("message")).toString()));
        QCOMPARE(board.value(QStringLiteral("blocks")).toInt(), blocks.at(at));
        QCOMPARE(board.value(QStringLiteral("bytes_sent")).toInt(), blocks.at(at) * 256);
        QCOMPARE(board.value(QStringLiteral("resends")).toInt(), 0);
        QVERIFY(board.value(QStringLiteral("seconds")).toDouble() > 5.0); // the settling
        QCOMPARE(board.value(QStringLiteral("message")).toString().isEmpty(), at % 2 == 0);
    }
    // One line on standard error for each failed port, and the summary last on the output.
    const QStringList errors = QString::fromLocal8Bit(tool.readAllStandardError())
                                   .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(errors.size(), 2);
    QVERIFY(errors.contains(
        QStringLiteral("vantyx-flash: %1: no reply to block 12 within 2 s").arg(arguments.at(3))));
    QVERIFY(errors.contains(QStringLiteral("vantyx-flash: %1: lost the port: The device was "
                                           "unplugged, or the line hung up.")
                                .arg(arguments.at(7))));
    const QStringList lines = QString::fromLocal8Bit(tool.readAllStandardOutput())
                                  .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    // Each reason said once: on standard error, not again on the board's line.
    QVERIFY(!lines.join(QLatin1Char('\n')).contains(QStringLiteral("within 2 s")));
    QVERIFY2(
        lines.last().startsWith(QStringLiteral("summary: 2 succeeded, 2 failed, yield 50.0%: ")),
        qPrintable(lines.last()));
    // The padding said, and the transfer apart from the settling.
    QVERIFY2(lines.last().contains(QStringLiteral("; image 10340 bytes, sent as 10496; transfer up "
                                                  "to ")) &&
                 lines.last().endsWith(QStringLiteral(" s, after 5 s of settling")),
             qPrintable(lines.last()));
    QVERIFY(!lines.join(QLatin1Char('\n')).contains(QLatin1Char('\x1b'))); // not a terminal
    // Without a terminal, a line at every further tenth of each good board's image.
    for (int good : {1, 5}) {
        QStringList tenths;
        for (const QString &line : lines)
            if (line.startsWith(arguments.at(good) + QStringLiteral(": sending, ")))
                tenths << line.section(QStringLiteral(", "), -1);
        QCOMPARE(tenths, (QStringList{
                             QStringLiteral("10%"), QStringLiteral("20%"), QStringLiteral("30%"),
                             QStringLiteral("40%"), QStringLiteral("50%"), QStringLiteral("60%"),
                             QStringLiteral("70%"), QStringLiteral("80%"), QStringLiteral("90%")}));
    }
}

void TestFlashTool::interrupted_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("Ctrl-C") << int(SIGINT);
    QTest::newRow("terminated") << int(SIGTERM);
    QTest::newRow("the session hung up") << int(SIGHUP);
}

void TestFlashTool::interrupted()
{
    QFETCH(int, signal);
    devicesim::Script script;
    script.blockDelayMs = 20;
    const auto owned = ptyDevice(script);
    devicesim::Device &device = *owned;
    QProcess tool;
    QCOMPARE(start(tool, {QStringLiteral("--port"), device.portName(), QStringLiteral("--json"),
                          QStringLiteral("-"), image}),
             QString());
    QVERIFY(device.waitFor([](const devicesim::Record &r) { return r.blocks.size() >= 5; }, 10000));
    ::kill(pid_t(tool.processId()), signal);
    QVERIFY(tool.waitForFinished(2000));
    QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
    QCOMPARE(tool.exitCode(), 130);
    const qsizetype received = device.record().received.size();
    QTest::qWait(300);
    QCOMPARE(device.record().received.size(), received); // nothing after the interrupt
    QCOMPARE(device.record().completedDownloads(), 0);

    // The JSON document alone on the output, the human lines on standard error.
    const QJsonObject report = QJsonDocument::fromJson(tool.readAllStandardOutput()).object();
    const QJsonObject board = report.value(QStringLiteral("devices")).toArray().at(0).toObject();
    QCOMPARE(board.value(QStringLiteral("result")).toString(), QStringLiteral("cancelled"));
    QVERIFY(board.value(QStringLiteral("blocks")).toInt() >= 4);
    QVERIFY(QString::fromLocal8Bit(tool.readAllStandardError())
                .contains(QStringLiteral("summary: 0 succeeded, 0 failed, 1 cancelled: ")));
}

void TestFlashTool::boardsComeFirst_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("error"); // on standard error, when there is one to read
    QTest::newRow("the output's reader goes away")
        << QStringLiteral("pipe closed") << 0 << QString();
    // A service or cron job: a line meant for standard error must not read as Ctrl-C.
    QTest::newRow("standard streams closed") << QStringLiteral("streams closed") << 0 << QString();
    // The bytes the system gave, not their text: 0xFF is no UTF-8.
    QTest::newRow("image name not UTF-8") << QStringLiteral("raw name") << 0 << QString();
    QTest::newRow("report to a full disk")
        << QStringLiteral("full disk") << 1
        << QStringLiteral("vantyx-flash: cannot write the report /dev/full: ");
    QTest::newRow("log to a full disk")
        << QStringLiteral("full log") << 1
        << QStringLiteral("vantyx-flash: cannot write the log /dev/full: ");
    // The image still being written when the tool starts: it waits for the whole of it.
    QTest::newRow("an image being written") << QStringLiteral("growing") << 0 << QString();
    // A log that reaches a full file system (here, the file size limit) mid-line: the line is
    // cut back off, the reason is the system's own, and the next run's record is whole.
    QTest::newRow("a log that fills the disk")
        << QStringLiteral("log fills") << 1
        << QStringLiteral("vantyx-flash: cannot write the log %log: File too large");
    // A line cut short by an earlier crash: ended first, and said.
    QTest::newRow("a log with a partial last line")
        << QStringLiteral("partial log") << 0
        << QStringLiteral("vantyx-flash: the log %log ended in a partial line");
}

void TestFlashTool::boardsComeFirst()
{
    // Whatever happens around it, a board in the middle of its download gets the whole image.
    QFETCH(QString, how);
    QFETCH(int, status);
    QFETCH(QString, error);
    devicesim::Script script;
    script.blockDelayMs = 5;
    const auto owned = ptyDevice(script);
    devicesim::Device &device = *owned;
    const QString json = dir.filePath(QStringLiteral("first.json"));
    QFile::remove(json);
    QStringList arguments{QStringLiteral("--port"), device.portName(), QStringLiteral("--json"),
                          how == QStringLiteral("full disk") ? QStringLiteral("/dev/full") : json,
                          image};
    if (how == QStringLiteral("full log"))
        arguments = QStringList{QStringLiteral("--log"), QStringLiteral("/dev/full")} + arguments;
    const QByteArray raw = QFile::encodeName(dir.path()) + "/fw\xff.bin";
    // Qt's own listing cannot name it to remove it.
    const auto unlinkRaw = qScopeGuard([&] { ::unlink(raw.constData()); });
    const QString log = dir.filePath(QStringLiteral("filling.jsonl"));
    const QByteArray before =
        QByteArray(R"({"port":"earlier","result":"ok","pad":")") + QByteArray(800, 'x') + "\"}\n";
    error.replace(QStringLiteral("%log"), log);
    if (how == QStringLiteral("log fills") || how == QStringLiteral("partial log")) {
        writeFile(dir.path(), QStringLiteral("filling.jsonl"),
                  how == QStringLiteral("log fills") ? before : before + R"({"port":"cut)");
        arguments = QStringList{QStringLiteral("--log"), log} + arguments;
    }
    std::thread writer;
    const auto joinWriter = qScopeGuard([&] {
        if (writer.joinable())
            writer.join();
    });
    QProcess tool;
    if (how == QStringLiteral("log fills")) {
        arguments.removeAt(arguments.indexOf(QStringLiteral("--json")) + 1);
        arguments.removeAll(QStringLiteral("--json"));
        // Writes past 1 KiB fail as on a full disk (EFBIG rather than ENOSPC), signal ignored.
        tool.start(QStringLiteral("bash"),
                   QStringList{QStringLiteral("-c"),
                               QStringLiteral("ulimit -f 1; trap '' XFSZ; exec \"$0\" \"$@\""),
                               flashToolPath()} +
                       arguments);
    } else if (how == QStringLiteral("growing")) {
        // Held open and growing, 2 KiB every 0.3 s, as a build or a copy writes it.
        const QString growing = dir.filePath(QStringLiteral("growing.bin"));
        auto file = std::make_shared<QFile>(growing);
        QVERIFY(file->open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(file->write(imageBytes.left(2048)), qint64(2048));
        QVERIFY(file->flush());
        writer = std::thread([file, bytes = imageBytes] {
            for (qsizetype at = 2048; at < bytes.size(); at += 2048) {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                file->write(bytes.mid(at, 2048));
                file->flush();
            }
            file->close();
        });
        arguments.last() = growing;
        QCOMPARE(start(tool, arguments), QString());
    } else if (how == QStringLiteral("streams closed")) {
        tool.start(QStringLiteral("/bin/sh"),
                   QStringList{QStringLiteral("-c"),
                               QStringLiteral("exec \"$0\" \"$@\" <&- >&- 2>&-"), flashToolPath()} +
                       arguments);
    } else if (how == QStringLiteral("raw name")) {
        const int fd = ::open(raw.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, imageBytes.constData(), size_t(imageBytes.size())),
                 ssize_t(imageBytes.size()));
        ::close(fd);
        arguments.removeLast(); // the shell gives the name's bytes, which no QString holds
        tool.start(QStringLiteral("/bin/sh"),
                   QStringList{QStringLiteral("-c"),
                               QStringLiteral("d=$1; shift; exec \"$0\" \"$@\" "
                                              "\"$d/$(printf 'fw\\377.bin')\""),
                               flashToolPath(), dir.path()} +
                       arguments);
    } else {
        QCOMPARE(start(tool, arguments), QString());
    }
    if (how == QStringLiteral("pipe closed")) {
        QVERIFY(tool.waitForReadyRead(10000)); // a line or two, then the reader is gone
        tool.closeReadChannel(QProcess::StandardOutput);
    }
    QVERIFY(tool.waitForFinished(20000));
    QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
    QCOMPARE(tool.exitCode(), status);
    QCOMPARE(device.record().completedImage, paddedImage(imageBytes));
    if (!error.isEmpty()) { // that line alone: no stray warning of Qt's
        QString said = QString::fromLocal8Bit(tool.readAllStandardError());
        if (how == QStringLiteral("log fills")) // the store, on the same full disk, says so first
            said.remove(QRegularExpression(
                QStringLiteral("^vantyx-flash: cannot keep the records' store \\([^\n]*\n")));
        QVERIFY2(said.startsWith(error) && said.count(QLatin1Char('\n')) == 1, qPrintable(said));
    }
    if (how == QStringLiteral("log fills") || how == QStringLiteral("partial log")) {
        QFile file(log);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray kept = file.readAll();
        // Whole lines only: what was there, and the record when it went on the disk.
        QVERIFY(kept.startsWith(before));
        QVERIFY(kept.endsWith('\n'));
        const QList<QByteArray> lines = kept.trimmed().split('\n');
        if (how == QStringLiteral("log fills")) {
            QCOMPARE(kept, before);
            return;
        }
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines.at(1), QByteArray(R"({"port":"cut)"));
        QCOMPARE(QJsonDocument::fromJson(lines.at(2)).object().value(QStringLiteral("result")),
                 QJsonValue(QStringLiteral("ok")));
    }
    if (how != QStringLiteral("full disk")) {
        QFile report(json);
        QVERIFY(report.open(QIODevice::ReadOnly));
        const QJsonObject board = QJsonDocument::fromJson(report.readAll())
                                      .object()
                                      .value(QStringLiteral("devices"))
                                      .toArray()
                                      .at(0)
                                      .toObject();
        QCOMPARE(board.value(QStringLiteral("result")).toString(), QStringLiteral("ok"));
    }
}

void TestFlashTool::refusedBeforeAnyPort_data()
{
    QTest::addColumn<QStringList>("arguments"); // %port is the device's, %image a good image
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("error");
    const QString port = QStringLiteral("%port");
    const QString good = QStringLiteral("%image");
    auto row = [&](const char *name, QStringList arguments, int status, const char *error) {
        QTest::newRow(name) << arguments << status << QString::fromLatin1(error);
    };
    row("unknown option", {QStringLiteral("--fast"), good}, 2, "Unknown option 'fast'");
    row("no image", {QStringLiteral("--port"), port}, 2, "no image given");
    row("no port", {good}, 2, "no port: give --port NAME, --all or --watch");
    row("port named twice", {QStringLiteral("--port"), port, QStringLiteral("--port"), port, good},
        2, "named twice");
    row("bad time-out",
        {QStringLiteral("--port"), port, QStringLiteral("--detect-timeout"), QStringLiteral("soon"),
         good},
        2, "--detect-timeout takes seconds");
    // The bad value is what is said, not the port it comes without.
    row("bad time-out, no port", {QStringLiteral("--detect-timeout"), QStringLiteral("abc"), good},
        2, "--detect-timeout takes seconds");
    for (const char *seconds : {"nan", "inf", "0.0004"})
        row(qPrintable(QStringLiteral("time-out %1").arg(QLatin1String(seconds))),
            {QStringLiteral("--port"), port, QStringLiteral("--detect-timeout"),
             QString::fromLatin1(seconds), good},
            2, "--detect-timeout takes seconds");
    row("empty port name", {QStringLiteral("--port"), QString(), good}, 2,
        "--port takes a port name");
    // pts/N and /dev/pts/N: two jobs would fight over one port.
    row("one port under two names",
        {QStringLiteral("--port"), port, QStringLiteral("--port"), QStringLiteral("%short"), good},
        2, "are the same port");
    // Ports on other machines: named as scripted serial tools name them, and not watched.
    row("network port without a port number",
        {QStringLiteral("--port"), QStringLiteral("rfc2217://station1"), good}, 2,
        "--port rfc2217://station1: give HOST:PORT");
    row("one network port under two kinds",
        {QStringLiteral("--port"), QStringLiteral("rfc2217://Station1:7001"),
         QStringLiteral("--port"), QStringLiteral("socket://station1:7001"), good},
        2, "are the same port");
    row("watching a network port",
        {QStringLiteral("--watch"), QStringLiteral("--port"), QStringLiteral("socket://h:7001"),
         good},
        2, "--watch takes local ports only");
    // Nothing of the user's is overwritten, and a report that cannot be written is said first.
    row("report over the image",
        {QStringLiteral("--port"), port, QStringLiteral("--json"), good, good}, 2,
        "--json would overwrite the image");
    // One file under two names is one file: by its identity, not its spelling.
    const QString linked = dir.filePath(QStringLiteral("shift.log"));
    QFile::remove(linked);
    QVERIFY(::link(image.toLocal8Bit().constData(), linked.toLocal8Bit().constData()) == 0);
    row("log hard-linked to the image",
        {QStringLiteral("--watch"), QStringLiteral("--port"), port, QStringLiteral("--log"), linked,
         good},
        2, "--log would overwrite the image");
    row("log and report, two spellings",
        {QStringLiteral("--port"), port, QStringLiteral("--log"),
         dir.filePath(QStringLiteral("x.json")), QStringLiteral("--json"),
         dir.path() + QStringLiteral("/./x.json"), good},
        2, "--log and --json name the same file");
    const QString kept = writeFile(dir.path(), QStringLiteral("kept.jsonl"), "{}\n");
    const QString alias = dir.filePath(QStringLiteral("alias.jsonl"));
    QFile::remove(alias);
    QVERIFY(QFile::link(kept, alias));
    row("log and report, a symbolic link",
        {QStringLiteral("--port"), port, QStringLiteral("--log"), kept, QStringLiteral("--json"),
         alias, good},
        2, "--log and --json name the same file");
    // Opening a pipe nobody reads would wait for ever, deaf to Ctrl-C.
    const QString fifo = dir.filePath(QStringLiteral("pipe"));
    QFile::remove(fifo);
    QVERIFY(::mkfifo(fifo.toLocal8Bit().constData(), 0600) == 0);
    for (const char *option : {"--json", "--log"})
        row(qPrintable(QStringLiteral("%1 to a pipe nobody reads").arg(QLatin1String(option))),
            {QStringLiteral("--port"), port, QString::fromLatin1(option), fifo, good}, 2,
            "is a pipe, not a file");
    row("report into a folder",
        {QStringLiteral("--port"), port, QStringLiteral("--json"), dir.path(), good}, 2,
        "is a folder");
    row("report in a missing folder",
        {QStringLiteral("--port"), port, QStringLiteral("--json"),
         dir.filePath(QStringLiteral("no/such/report.json")), good},
        2, "--json: no folder");
    // A station's files and options are read before any port is opened.
    const QString slotFile = writeFile(dir.path(), QStringLiteral("bench.ini"),
                                       "[slots]\nA1 = /dev/ttyUSB0\nA2 /dev/ttyUSB1\n");
    row("malformed slot file",
        {QStringLiteral("--slots"), slotFile, QStringLiteral("--watch"), good}, 2,
        "bench.ini:3: expected NAME = VALUE");
    row("adapter not VID:PID",
        {QStringLiteral("--usb"), QStringLiteral("0403"), QStringLiteral("--all"), good}, 2,
        "--usb takes VID:PID in hex");
    row("metrics on no port",
        {QStringLiteral("--metrics"), QStringLiteral("127.0.0.1:0"), QStringLiteral("--all"), good},
        2, "--metrics: 127.0.0.1:0: the port is a number from 1 to 65535");
    row("empty tag", {QStringLiteral("--tag"), QString(), QStringLiteral("--all"), good}, 2,
        "--tag takes a text");
    const QString missing = dir.filePath(QStringLiteral("missing.bin"));
    row("missing image", {QStringLiteral("--port"), port, missing}, 3, "no such file");
    row("image is a folder", {QStringLiteral("--port"), port, dir.path()}, 3,
        "a folder, not a file");
    row("empty image",
        {QStringLiteral("--port"), port,
         writeFile(dir.path(), QStringLiteral("empty.bin"), QByteArray())},
        3, "empty");
    // What a station needs to start, and cannot have: status 4, before any port is opened.
    metricsInUse.listen(QHostAddress::LocalHost);
    row("metrics port in use",
        {QStringLiteral("--port"), port, QStringLiteral("--metrics"),
         QStringLiteral("127.0.0.1:%1").arg(metricsInUse.serverPort()), good},
        4,
        qPrintable(QStringLiteral("cannot serve metrics on 127.0.0.1:%1: The bound address is "
                                  "already in use")
                       .arg(metricsInUse.serverPort())));
    // Written past 1 KiB fails as on a full disk: the old file is kept whole.
    const QString oldMetrics = writeFile(dir.path(), QStringLiteral("kept.prom"), "# old\n");
    row("metrics file on a full disk",
        {QStringLiteral("%full"), QStringLiteral("--port"), port, QStringLiteral("--metrics-file"),
         oldMetrics, good},
        4,
        qPrintable(
            QStringLiteral("cannot write the metrics file %1: File too large").arg(oldMetrics)));
    // Run as another user: a pseudo-terminal's group may write to it but not read it, so only
    // its owner is named.
    row("port not permitted", {QStringLiteral("%nobody"), QStringLiteral("--port"), port, good}, 1,
        "cannot open the port: Permission denied. Only its owner, %owner, may use the port.");
}

void TestFlashTool::refusedBeforeAnyPort()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, error);
    devicesim::Device device;
    QString why;
    QVERIFY2(device.openPty(&why), qPrintable(why));
    arguments.replaceInStrings(QStringLiteral("%port"), device.portName());
    arguments.replaceInStrings(QStringLiteral("%short"), device.portName().mid(5)); // no /dev/
    arguments.replaceInStrings(QStringLiteral("%image"), image);
    struct stat info = {};
    QVERIFY(::stat(device.portName().toLocal8Bit().constData(), &info) == 0);
    const passwd *owner = ::getpwuid(info.st_uid);
    error.replace(QStringLiteral("%owner"), QString::fromLocal8Bit(owner ? owner->pw_name : ""));
    QProcess tool;
    if (arguments.first() == QStringLiteral("%full")) {
        arguments.removeFirst();
        tool.start(QStringLiteral("bash"),
                   QStringList{QStringLiteral("-c"),
                               QStringLiteral("ulimit -f 1; trap '' XFSZ; exec \"$0\" \"$@\""),
                               flashToolPath()} +
                       arguments);
    } else if (arguments.first() == QStringLiteral("%nobody")) {
        arguments.removeFirst();
        if (::geteuid() == 0) { // root opens anything: ask as somebody else
            const QString runuser = QStandardPaths::findExecutable(QStringLiteral("runuser"));
            QVERIFY(!runuser.isEmpty());
            // From a copy in the test's own open folder: the checkout may sit where other
            // users cannot go (a home folder of mode 0700).
            const QString copy = dir.filePath(QStringLiteral("vantyx-flash"));
            QFile::remove(copy);
            QVERIFY(QFile::copy(flashToolPath(), copy));
            QVERIFY(::chmod(copy.toLocal8Bit().constData(), 0755) == 0);
            tool.start(runuser, QStringList{QStringLiteral("-u"), QStringLiteral("nobody"),
                                            QStringLiteral("--"), copy} +
                                    arguments);
        } else { // our own pseudo-terminal, closed to its owner
            QVERIFY(::chmod(device.portName().toLocal8Bit().constData(), 0) == 0);
            QCOMPARE(start(tool, arguments), QString());
        }
    } else {
        QCOMPARE(start(tool, arguments), QString());
    }
    QVERIFY(tool.waitForFinished(5000));
    QCOMPARE(tool.exitCode(), status);
    const QString said = QString::fromLocal8Bit(tool.readAllStandardError());
    QVERIFY2(said.startsWith(QStringLiteral("vantyx-flash: ")) && said.contains(error) &&
                 said.count(QLatin1Char('\n')) == 1,
             qPrintable(said));
    QTest::qWait(100);
    QVERIFY(device.record().received.isEmpty()); // the port was never touched
    QFile metrics(dir.filePath(QStringLiteral("kept.prom")));
    if (metrics.open(QIODevice::ReadOnly)) // never replaced by a shorter failed write
        QCOMPARE(metrics.readAll(), QByteArray("# old\n"));
}

void TestFlashTool::watchFlashesEachArrival_data()
{
    QTest::addColumn<int>("gapMs");    // between one board's removal and the next one's arrival
    QTest::addColumn<bool>("rebuilt"); // the image is built anew before the second board
    // The board's link is a slot's port (as /dev/serial/by-path names a USB socket): each
    // board is another pseudo-terminal behind it, and keeps the slot's name.
    QTest::addColumn<bool>("inSlot");
    QTest::newRow("absent for a look or two") << 600 << false << false;
    QTest::newRow("swapped between two looks") << 0 << false << false;
    QTest::newRow("image rebuilt between boards") << 600 << true << false;
    QTest::newRow("a station's slot, renamed tty") << 600 << false << true;
}

void TestFlashTool::watchFlashesEachArrival()
{
    QFETCH(int, gapMs);
    QFETCH(bool, rebuilt);
    QFETCH(bool, inSlot);
    // The board's port is a link that comes and goes, as a USB adapter's name does.
    const QString board = dir.filePath(QStringLiteral("board"));
    QList<QByteArray> images{imageBytes, rebuilt ? patternImage(9 * 256 + 3, 77) : imageBytes};
    // The station's row takes an S-record file, as a compiler wrote it.
    const QString imageName =
        inSlot ? QStringLiteral("watched.s19") : QStringLiteral("watched.bin");
    const auto asWritten = [&](const QByteArray &bytes) {
        return inSlot ? sRecordOf(bytes, 0x10000) : bytes;
    };
    const QString watched = writeFile(dir.path(), imageName, asWritten(images.first()));
    const QString log = dir.filePath(QStringLiteral("watch.log"));
    QFile::remove(log);
    QProcess tool;
    const QStringList where =
        inSlot ? QStringList{QStringLiteral("--slots"),
                             // As the README's station: a slot on another machine beside.
                             writeFile(
                                 dir.path(), QStringLiteral("station.ini"),
                                 "[station]\nusb = 0403:6001\n[slots]\nBay 1 = " + board.toUtf8() +
                                     "\nB1 = rfc2217://127.0.0.1:4001  # the far bench\n"),
                             QStringLiteral("--tag"), QStringLiteral("WO-17")}
               : QStringList{QStringLiteral("--port"), board};
    // The station's row names its image relative to its folder; records keep the whole path.
    tool.setWorkingDirectory(dir.path());
    QCOMPARE(
        start(tool, QStringList{QStringLiteral("--watch")} + where +
                        QStringList{QStringLiteral("--log"), log, inSlot ? imageName : watched}),
        QString());
    QByteArray output;
    auto waitForLines = [&](const QByteArray &line, int count, int timeoutMs) {
        QDeadlineTimer deadline(timeoutMs);
        while (output.count(line) < count && !deadline.hasExpired()) {
            tool.waitForReadyRead(50);
            output += tool.readAllStandardOutput();
        }
        return output.count(line) == count;
    };
    for (int arrival = 1; arrival <= 2; ++arrival) {
        QTest::qWait(arrival == 1 ? 600 : gapMs);
        if (arrival == 2 && rebuilt)
            writeFile(dir.path(), imageName, asWritten(images.last()));
        const QByteArray sent = images.at(arrival - 1);
        devicesim::Device device;
        QString error;
        QVERIFY2(device.openPty(&error), qPrintable(error));
        QCOMPARE(
            ::symlink(device.portName().toLocal8Bit().constData(), board.toLocal8Bit().constData()),
            0);
        const QByteArray done = (inSlot ? QByteArray("Bay 1") : board.toLocal8Bit()) + ": ok, " +
                                QByteArray::number(paddedImage(sent).size()) + " bytes";
        QVERIFY2(waitForLines(done, rebuilt ? 1 : arrival, 10000), output.constData());
        // Between boards it says so, with the count.
        QVERIFY2(waitForLines("waiting for boards: " + QByteArray::number(arrival) +
                                  " ok, 0 failed so far\n",
                              1, 2000),
                 output.constData());
        QCOMPARE(device.record().completedImage, paddedImage(sent));
        QCOMPARE(::unlink(board.toLocal8Bit().constData()), 0); // unplugged
    }
    ::kill(pid_t(tool.processId()), SIGINT);
    QVERIFY(tool.waitForFinished(2000));
    QCOMPARE(tool.exitCode(), 0); // Ctrl-C between boards cut none: the boards' own status
    output += tool.readAllStandardOutput();
    QVERIFY2(output.contains("\nsummary: 2 succeeded, 0 failed, yield 100.0%; image "),
             output.constData());
    // Each board's record says which image it got; a new one is said once.
    QFile records(log);
    QVERIFY(records.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = records.readAll().split('\n');
    QCOMPARE(lines.size(), 3);
    for (int i = 0; i < 2; ++i) {
        const QJsonObject record = QJsonDocument::fromJson(lines.at(i)).object();
        QCOMPARE(record.value(QStringLiteral("slot")).toString(),
                 inSlot ? QStringLiteral("Bay 1") : QString());
        QCOMPARE(record.value(QStringLiteral("tag")).toString(),
                 inSlot ? QStringLiteral("WO-17") : QString());
        // What the file was, and from where its bytes came.
        const QJsonObject image = record.value(QStringLiteral("image")).toObject();
        QCOMPARE(image.value(QStringLiteral("format")).toString(),
                 inSlot ? QStringLiteral("srec") : QString());
        QCOMPARE(image.value(QStringLiteral("base_address")).toString(),
                 inSlot ? QStringLiteral("0x00010000") : QString());
    }
    for (int i = 0; i < 2; ++i)
        QCOMPARE(QJsonDocument::fromJson(lines.at(i))
                     .object()
                     .value(QStringLiteral("image"))
                     .toObject()
                     .value(QStringLiteral("sha256"))
                     .toString(),
                 sha256(images.at(i)));
    QCOMPARE(output.count("image changed: "), rebuilt ? 1 : 0);
    // The far bench's slot is said once and left alone: the shift runs as written.
    QCOMPARE(output.count("B1: ignored: a port on another machine, whose boards cannot be seen "
                          "arriving"),
             inSlot ? 1 : 0);
    // Records say what wrote them, and the image by its whole path.
    const QJsonObject first = QJsonDocument::fromJson(lines.at(0)).object();
    QCOMPARE(first.value(QStringLiteral("program")).toString(), QStringLiteral("vantyx-flash"));
    QCOMPARE(first.value(QStringLiteral("image")).toObject().value(QStringLiteral("path")),
             QJsonValue(watched));
}

void TestFlashTool::logSurvivesAKill()
{
    // A board that finished is on the disk before the next one ends, whatever kills the run.
    devicesim::Script slow;
    slow.blockDelayMs = 100;
    const auto quick = ptyDevice();
    const auto later = ptyDevice(slow);
    const QString log = dir.filePath(QStringLiteral("shift.log"));
    QFile::remove(log);
    QProcess tool;
    QCOMPARE(start(tool, {QStringLiteral("--port"), quick->portName(), QStringLiteral("--port"),
                          later->portName(), QStringLiteral("--log"), log, image}),
             QString());
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(log).size() > 0, 15000);
    ::kill(pid_t(tool.processId()), SIGKILL);
    QVERIFY(tool.waitForFinished(2000));
    QVERIFY(later->record().completedDownloads() == 0); // killed in the middle of it

    QFile file(log);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    QCOMPARE(lines.size(), 2); // one line, ended
    QJsonParseError error;
    const QJsonObject board = QJsonDocument::fromJson(lines.first(), &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(board.value(QStringLiteral("port")).toString(), quick->portName());
    QCOMPARE(board.value(QStringLiteral("result")).toString(), QStringLiteral("ok"));
    QCOMPARE(board.value(QStringLiteral("blocks")).toInt(), paddedImage(imageBytes).size() / 256);
    const QDateTime started =
        QDateTime::fromString(board.value(QStringLiteral("started")).toString(), Qt::ISODateWithMs);
    const QDateTime ended =
        QDateTime::fromString(board.value(QStringLiteral("ended")).toString(), Qt::ISODateWithMs);
    QVERIFY(started.isValid() && ended.isValid());
    QVERIFY(started.msecsTo(ended) > 5000); // the settling at least
    QVERIFY(qAbs(ended.secsTo(QDateTime::currentDateTime())) < 60);
    const QJsonObject logged = board.value(QStringLiteral("image")).toObject();
    QCOMPARE(logged.value(QStringLiteral("sha256")).toString(), sha256(imageBytes));
    QCOMPARE(logged.value(QStringLiteral("path")).toString(), image);
    QVERIFY(!board.value(QStringLiteral("host")).toString().isEmpty());
    QCOMPARE(board.value(QStringLiteral("version")).toString(),
             QStringLiteral(FLASHLOADER_VERSION));
}

void TestFlashTool::remotePorts_data()
{
    QTest::addColumn<QStringList>("kinds"); // rfc2217, socket, local, or nothing listening
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QStringList>("results");
    QTest::addColumn<int>("latencyMs"); // the devices hold their replies back this long
    const QString ok = QStringLiteral("ok"), portError = QStringLiteral("port-error");
    const QString rfc2217 = QStringLiteral("rfc2217"), socket = QStringLiteral("socket"),
                  local = QStringLiteral("local");
    QTest::newRow("both kinds and a local port in one run")
        << QStringList{rfc2217, socket, local} << QString() << QStringList{ok, ok, ok} << 0;
    QTest::newRow("board unplugged behind the server")
        << QStringList{rfc2217} << QStringLiteral("unplug") << QStringList{portError} << 0;
    QTest::newRow("server stopped mid-download")
        << QStringList{rfc2217, socket} << QStringLiteral("server stopped")
        << QStringList{portError, portError} << 0;
    QTest::newRow("nothing listens")
        << QStringList{QStringLiteral("nothing")} << QString() << QStringList{portError} << 0;
    // An adapter's latency timer: said in the record and in one line.
    QTest::newRow("adapter latency") << QStringList{local} << QString() << QStringList{ok} << 16;
}

void TestFlashTool::remotePorts()
{
    QFETCH(QStringList, kinds);
    QFETCH(QString, fault);
    QFETCH(QStringList, results);
    QFETCH(int, latencyMs);
#ifndef FLASHLOADER_REMOTE_PORTS
    QSKIP("this build has no network ports (no Qt Network)");
#endif
    if (ser2netPath().isEmpty() &&
        (kinds.contains(QStringLiteral("rfc2217")) || kinds.contains(QStringLiteral("socket"))))
        QSKIP("ser2net is not installed (scripts/dev.sh installs it)");

    // Padding, 0xFF runs and the protocol's own bytes: what escaping must carry exactly.
    QByteArray bytes = patternImage(20 * 256, 31);
    bytes += QByteArray(700, char(0xFF));
    for (int i = 0; i < 64; ++i)
        bytes += QByteArray("\xff\x14\x28OK\xff\xff", 7);
    const QString path = writeFile(dir.path(), QStringLiteral("escaped.bin"), bytes);

    devicesim::Script script;
    script.replyLatencyMs = latencyMs;
    if (latencyMs > 0) // what is late is measured against the wire's own time
        script.lineRate = 115200;
    if (fault == QStringLiteral("unplug"))
        script.unplugAfterBlock = 6;
    if (fault == QStringLiteral("server stopped"))
        script.blockDelayMs = 20;
    std::vector<std::unique_ptr<devicesim::Device>> devices;
    QStringList ports, served, servedKinds;
    for (const QString &kind : std::as_const(kinds)) {
        devices.push_back(ptyDevice(script));
        ports << devices.back()->portName();
        if (kind == QStringLiteral("nothing"))
            ports.last() = QStringLiteral("socket://127.0.0.1:%1").arg(freeLoopbackPort());
        if (kind == QStringLiteral("rfc2217") || kind == QStringLiteral("socket")) {
            served << devices.back()->portName();
            servedKinds << kind;
        }
    }
    Ser2netStation station;
    if (!served.isEmpty()) {
        QStringList urls;
        const QString why = station.start(served, servedKinds, dir.path(), &urls);
        QVERIFY2(why.isEmpty(), qPrintable(why));
        for (qsizetype i = 0; i < served.size(); ++i)
            ports.replace(ports.indexOf(served.at(i)), urls.at(i));
    }

    QStringList arguments;
    for (const QString &port : std::as_const(ports))
        arguments << QStringLiteral("--port") << port;
    QProcess tool;
    QCOMPARE(start(tool, arguments + QStringList{QStringLiteral("--json"), QStringLiteral("-"),
                                                 QStringLiteral("--detect-timeout"),
                                                 QStringLiteral("10"), path}),
             QString());
    if (fault == QStringLiteral("server stopped")) {
        for (const auto &device : devices)
            QVERIFY(device->waitFor(
                [](const devicesim::Record &record) {
                    return !record.downloads.isEmpty() && record.downloads.last().blocks >= 3;
                },
                15000));
        station.stop();
    }
    QVERIFY(tool.waitForFinished(30000));
    QCOMPARE(tool.exitCode(), results.contains(QStringLiteral("port-error")) ? 1 : 0);

    const QJsonArray boards = QJsonDocument::fromJson(tool.readAllStandardOutput())
                                  .object()
                                  .value(QStringLiteral("devices"))
                                  .toArray();
    QCOMPARE(boards.size(), ports.size());
    const QString said = QString::fromLocal8Bit(tool.readAllStandardError());
    for (const QJsonValue &value : boards) {
        const QJsonObject board = value.toObject();
        const int at = int(ports.indexOf(board.value(QStringLiteral("port")).toString()));
        QVERIFY(at >= 0);
        QVERIFY2(board.value(QStringLiteral("result")).toString() == results.at(at),
                 qPrintable(board.value(QStringLiteral("message")).toString()));
        const devicesim::Record record = devices.at(size_t(at))->record();
        if (results.at(at) == QStringLiteral("ok")) {
            // The same bytes on the wire as on a local port, 0xFF and all.
            QCOMPARE(record.completedImage, paddedImage(bytes));
            QCOMPARE(afterDetection(record.received), expectedDownload(bytes));
        }
        const double latency = board.value(QStringLiteral("reply_latency_ms")).toDouble();
        if (latencyMs > 0)
            QVERIFY2(latency >= latencyMs - 1 && latency <= latencyMs + 6,
                     qPrintable(QString::number(latency)));
        if (kinds.at(at) == QStringLiteral("nothing"))
            QVERIFY2(board.value(QStringLiteral("message"))
                         .toString()
                         .startsWith(QStringLiteral("cannot reach 127.0.0.1:")),
                     qPrintable(said));
        if (fault == QStringLiteral("server stopped"))
            QVERIFY2(board.value(QStringLiteral("message"))
                         .toString()
                         .contains(QStringLiteral("closed the connection")),
                     qPrintable(said));
    }
    const QStringList late =
        said.split(QLatin1Char('\n')).filter(QStringLiteral("ms late on every block"));
    QCOMPARE(late.size(), latencyMs > 0 ? 1 : 0);
}

QTEST_GUILESS_MAIN(TestFlashTool)
#include "tst_flash_tool.moc"
