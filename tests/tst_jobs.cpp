#include "jobs/approval.h"
#include "jobs/jobcount.h"
#include "jobs/jobfile.h"
#include "testrig.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <functional>

// Production jobs: signed with Debian's minisign, in its two forms, checked against the keys a
// station trusts; every tampering refused before any port is opened; the count a job allows.
class TestJobs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void minisignsForms_data();
    void minisignsForms();
    void tamperedRefused_data();
    void tamperedRefused();
    void count_data();
    void count();
    void failedBoardGivesItsCountBack();
    void killedRunsNeverExceedTheCount();

private:
    // Runs minisign with `arguments`; empty when it did as asked.
    QString minisign(const QStringList &arguments);
    // A folder of its own with the image and a job for it, signed by `key` (as `form`).
    QString makeJob(const QString &name, const QStringList &jobArguments,
                    const QString &key = QStringLiteral("trusted"),
                    const QString &form = QStringLiteral("prehashed"));
    QTemporaryDir dir;
    QString program; // minisign
    QByteArray image;
};

QString TestJobs::minisign(const QStringList &arguments)
{
    QProcess run;
    run.start(program, arguments);
    if (!run.waitForFinished(20000) || run.exitCode() != 0)
        return QString::fromLocal8Bit(run.readAllStandardError() + run.readAllStandardOutput());
    return QString();
}

void TestJobs::initTestCase()
{
    program = QStandardPaths::findExecutable(QStringLiteral("minisign"));
    if (program.isEmpty())
        QSKIP("No minisign here (Debian's minisign; scripts/dev.sh installs it).");
    // The station's memory of its jobs in this test's own folder, for the programs it starts.
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath(QStringLiteral("data"))));
    image = patternImage(6 * 256 + 7, 44);
    for (const char *key : {"trusted", "other"})
        QCOMPARE(minisign({QStringLiteral("-G"), QStringLiteral("-W"), QStringLiteral("-p"),
                           dir.filePath(QLatin1String(key) + QStringLiteral(".pub")),
                           QStringLiteral("-s"),
                           dir.filePath(QLatin1String(key) + QStringLiteral(".key"))}),
                 QString());
}

QString TestJobs::makeJob(const QString &name, const QStringList &jobArguments, const QString &key,
                          const QString &form)
{
    const QString folder = dir.filePath(name);
    QDir().mkpath(folder);
    const QString firmware = writeSettledFile(folder, QStringLiteral("fw.bin"), image);
    QProcess tool;
    tool.start(jobToolPath(),
               QStringList{QStringLiteral("new"), firmware, QStringLiteral("--name"), name,
                           QStringLiteral("--job-version"), QStringLiteral("5")} +
                   jobArguments);
    if (!tool.waitForFinished(10000) || tool.exitCode() != 0)
        qFatal("vantyx-job: %s", tool.readAllStandardError().constData());
    const QString job = QDir(folder).filePath(name + QStringLiteral(".vjob"));
    QStringList sign{QStringLiteral("-S"),
                     QStringLiteral("-m"),
                     job,
                     QStringLiteral("-s"),
                     dir.filePath(key + QStringLiteral(".key")),
                     QStringLiteral("-t"),
                     QStringLiteral("approved for line B")};
    if (form == QStringLiteral("legacy"))
        sign << QStringLiteral("-l");
    const QString signing = minisign(sign);
    if (!signing.isEmpty())
        qFatal("minisign: %s", qPrintable(signing));
    return job;
}

void TestJobs::minisignsForms_data()
{
    // Signatures the minisign program made: both its forms verify; another key's does not.
    QTest::addColumn<QString>("form");
    QTest::addColumn<QString>("signer");
    QTest::addColumn<QString>("why"); // "" approved
    QTest::newRow("prehashed") << "prehashed"
                               << "trusted"
                               << "";
    QTest::newRow("legacy") << "legacy"
                            << "trusted"
                            << "";
    QTest::newRow("another key's") << "prehashed"
                                   << "other"
                                   << "which %trust does not hold";
}

void TestJobs::minisignsForms()
{
    QFETCH(QString, form);
    QFETCH(QString, signer);
    QFETCH(QString, why);
    const QString name = QStringLiteral("forms-%1-%2").arg(form, signer);
    JobRequest request;
    request.jobFile = makeJob(name, {QStringLiteral("--count"), QStringLiteral("9")}, signer, form);
    request.trustFile = dir.filePath(QStringLiteral("trusted.pub"));
    request.stateFolder = dir.filePath(QStringLiteral("state-") + name);
    QString problem;
    const std::optional<Approval> approval = approveJob(request, &problem);
    why.replace(QStringLiteral("%trust"), request.trustFile);
    QVERIFY2(why.isEmpty() ? approval.has_value() : problem.contains(why), qPrintable(problem));
    if (!approval)
        return;
    QCOMPARE(approval->job.count, 9);
    QCOMPARE(approval->trustedComment, QStringLiteral("approved for line B"));
    QCOMPARE(approval->imagePath,
             QDir(QFileInfo(request.jobFile).path()).filePath(QStringLiteral("fw.bin")));
}

void TestJobs::tamperedRefused_data()
{
    // What is done to an approved job before the station is given it; what the station says
    // (status 2, before any port is opened, nothing flashed).
    QTest::addColumn<QString>("tamper");
    QTest::addColumn<QString>("said");
    QTest::newRow("a byte changed in the image") << "image"
                                                 << "the image is not the job's";
    QTest::newRow("a byte changed in the job") << "job"
                                               << "the signature does not match the file";
    QTest::newRow("a byte changed in the signature") << "signature"
                                                     << "the signature does not match the file";
    QTest::newRow("a byte changed in the trusted comment")
        << "comment"
        << "the trusted comment does not match its signature";
    QTest::newRow("a key the station does not trust") << "untrusted"
                                                      << "does not hold";
    QTest::newRow("an expired job") << "expired"
                                    << "expired on";
    QTest::newRow("a lower version than ran") << "older"
                                              << "this station ran version 9 of it";
    QTest::newRow("a job for another image") << "other image"
                                             << "the image is not the job's";
    QTest::newRow("a truncated job") << "truncated job"
                                     << "no image-sha256 in [job]";
    QTest::newRow("a truncated signature") << "truncated signature"
                                           << "not a minisign signature";
    QTest::newRow("a signature of another file") << "other signature"
                                                 << "the signature does not match the file";
    QTest::newRow("no signature where one is required") << "unsigned"
                                                        << "runs signed jobs only";
}

void TestJobs::tamperedRefused()
{
    QFETCH(QString, tamper);
    QFETCH(QString, said);
    const QString name =
        QStringLiteral("tamper-") + QString(tamper).replace(QLatin1Char(' '), QLatin1Char('-'));
    QStringList jobArguments{QStringLiteral("--count"), QStringLiteral("3")};
    if (tamper == QStringLiteral("expired"))
        jobArguments << QStringLiteral("--expires")
                     << QDate::currentDate().addDays(-1).toString(Qt::ISODate);
    const QString job = makeJob(name, jobArguments,
                                tamper == QStringLiteral("untrusted") ? QStringLiteral("other")
                                                                      : QStringLiteral("trusted"));
    const QString folder = QFileInfo(job).path();
    const QString signature = job + QStringLiteral(".minisig");
    const auto edit = [](const QString &path, const std::function<void(QByteArray &)> &change) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QByteArray bytes = file.readAll();
        file.close();
        change(bytes);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    };
    QStringList arguments{QStringLiteral("--job"), job, QStringLiteral("--trust"),
                          dir.filePath(QStringLiteral("trusted.pub"))};
    if (tamper == QStringLiteral("image")) {
        edit(QDir(folder).filePath(QStringLiteral("fw.bin")), [](QByteArray &b) { b[100] ^= 1; });
    } else if (tamper == QStringLiteral("job")) {
        edit(job, [](QByteArray &b) { b.replace("count = 3", "count = 4"); });
    } else if (tamper == QStringLiteral("signature")) {
        edit(signature, [](QByteArray &b) {
            const qsizetype at = b.indexOf('\n') + 20; // inside the signature's base64
            b[at] = b[at] == 'A' ? 'B' : 'A';
        });
    } else if (tamper == QStringLiteral("comment")) {
        edit(signature, [](QByteArray &b) { b.replace("line B", "line C"); });
    } else if (tamper == QStringLiteral("older")) {
        const QString state = QDir(QString::fromLocal8Bit(qgetenv("XDG_DATA_HOME")))
                                  .filePath(QStringLiteral("Brivox/vantyx-jobs"));
        QDir().mkpath(state);
        writeFile(state, QStringLiteral("versions"), (name + QStringLiteral(" = 9\n")).toUtf8());
    } else if (tamper == QStringLiteral("other image")) {
        arguments << writeSettledFile(folder, QStringLiteral("other.bin"), patternImage(900, 3));
    } else if (tamper == QStringLiteral("truncated job")) {
        edit(job, [](QByteArray &b) { b.truncate(b.indexOf("image-sha256")); });
    } else if (tamper == QStringLiteral("truncated signature")) {
        edit(signature, [](QByteArray &b) { b.truncate(b.size() / 2); });
    } else if (tamper == QStringLiteral("other signature")) {
        const QString other = makeJob(name + QStringLiteral("-other"), {});
        QFile::remove(signature);
        QVERIFY(QFile::copy(other + QStringLiteral(".minisig"), signature));
    } else if (tamper == QStringLiteral("unsigned")) {
        arguments =
            QStringList{QStringLiteral("--slots"),
                        writeFile(folder, QStringLiteral("bench.ini"),
                                  "[station]\nrequire-job = yes\n[slots]\nA1 = /dev/ttyUSB0\n"),
                        QDir(folder).filePath(QStringLiteral("fw.bin"))};
    }
    const auto device = ptyDevice();
    QProcess tool;
    tool.start(flashToolPath(),
               arguments + QStringList{QStringLiteral("--port"), device->portName()});
    QVERIFY(tool.waitForFinished(10000));
    const QString stderrText = QString::fromLocal8Bit(tool.readAllStandardError());
    QCOMPARE(tool.exitCode(), 2);
    QVERIFY2(stderrText.startsWith(QStringLiteral("vantyx-flash: ")) && stderrText.contains(said) &&
                 stderrText.count(QLatin1Char('\n')) == 1,
             qPrintable(stderrText));
    QTest::qWait(100);
    QVERIFY(device->record().received.isEmpty()); // the port was never opened
}

void TestJobs::count_data()
{
    // Boards in order: r (reserved), o (reserved, then ok), f (reserved, then failed), k (the
    // program killed: the journal opened again); the reservations granted, and what is left.
    QTest::addColumn<QString>("boards");
    QTest::addColumn<QString>("granted"); // a letter a reservation: y or n
    QTest::addColumn<int>("remaining");
    QTest::newRow("ok boards use the count") << "ooo"
                                             << "yyy" << 0;
    QTest::newRow("none past the limit") << "oooo"
                                         << "yyyn" << 0;
    QTest::newRow("a failed board gives its count back") << "ofoo"
                                                         << "yyyy" << 0;
    // A board in progress when the program was killed is counted as used.
    QTest::newRow("killed in the middle") << "rkooo"
                                          << "yyyn" << 0;
    QTest::newRow("killed between boards") << "okf"
                                           << "yy" << 2;
}

void TestJobs::count()
{
    QFETCH(QString, boards);
    QFETCH(QString, granted);
    QFETCH(int, remaining);
    Approval approval;
    approval.job.name =
        QStringLiteral("count-") +
        QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('-'));
    approval.job.version = 1;
    approval.job.count = 3;
    approval.jobSha256 = QString(64, QLatin1Char('a'));
    const QString folder = dir.filePath(QStringLiteral("counts"));
    QString why;
    std::unique_ptr<JobCount> count = JobCount::open(folder, approval, &why);
    QVERIFY2(count, qPrintable(why));
    QString answers;
    int id = 0;
    for (const QChar board : boards) {
        if (board == QLatin1Char('k')) { // a new program on the same journal
            count = JobCount::open(folder, approval, &why);
            QVERIFY2(count, qPrintable(why));
            continue;
        }
        const QString board_id = QString::number(++id);
        const bool reserved = count->reserve(board_id, &why);
        answers += reserved ? QLatin1Char('y') : QLatin1Char('n');
        if (reserved && board != QLatin1Char('r'))
            count->settle(board_id, board == QLatin1Char('o'));
    }
    QCOMPARE(answers, granted);
    QCOMPARE(count->remaining(), remaining);
}

void TestJobs::failedBoardGivesItsCountBack()
{
    // A station of two boards under a job of two: the faulty one's count comes back, and every
    // record names the job and the key that approved it.
    const QString job =
        makeJob(QStringLiteral("two-boards"), {QStringLiteral("--count"), QStringLiteral("2")});
    devicesim::Script faulty;
    faulty.silentFromBlock = 1;
    const auto good = ptyDevice();
    const auto bad = ptyDevice(faulty);
    const QString log = dir.filePath(QStringLiteral("two-boards.jsonl"));
    QProcess tool;
    tool.start(flashToolPath(), {QStringLiteral("--job"), job, QStringLiteral("--trust"),
                                 dir.filePath(QStringLiteral("trusted.pub")),
                                 QStringLiteral("--log"), log, QStringLiteral("--port"),
                                 good->portName(), QStringLiteral("--port"), bad->portName()});
    QVERIFY(tool.waitForFinished(30000));
    QCOMPARE(tool.exitCode(), 1);
    const QString output = QString::fromLocal8Bit(tool.readAllStandardOutput());
    QVERIFY2(output.contains(QStringLiteral("job two-boards v5 (key ")) &&
                 output.contains(QStringLiteral(": 1 of 2 left")),
             qPrintable(output));
    QFile records(log);
    QVERIFY(records.open(QIODevice::ReadOnly));
    int lines = 0;
    for (const QByteArray &line : records.readAll().split('\n')) {
        if (line.isEmpty())
            continue;
        ++lines;
        const QJsonObject jobObject =
            QJsonDocument::fromJson(line).object().value(QStringLiteral("job")).toObject();
        QCOMPARE(jobObject.value(QStringLiteral("name")).toString(), QStringLiteral("two-boards"));
        QCOMPARE(jobObject.value(QStringLiteral("version")).toInt(), 5);
        QCOMPARE(jobObject.value(QStringLiteral("sha256")).toString().size(), 64);
        QVERIFY(!jobObject.value(QStringLiteral("key_id")).toString().isEmpty());
    }
    QCOMPARE(lines, 2);
    QCOMPARE(good->record().completedImage, paddedImage(image));
}

void TestJobs::killedRunsNeverExceedTheCount()
{
    // A job of 20 on a station of 16 boards, its program killed at random moments over 30 runs:
    // at most 20 boards end ok in the records, and what is left never rises.
    const QString job =
        makeJob(QStringLiteral("killed-runs"), {QStringLiteral("--count"), QStringLiteral("20")});
    SimulatorProcess boards;
    QVERIFY(
        boards.start({QStringLiteral("--pty"), QStringLiteral("--count"), QStringLiteral("16")}));
    const QStringList ports = boards.ports(16);
    QCOMPARE(ports.size(), 16);
    const QString log = dir.filePath(QStringLiteral("killed-runs.jsonl"));
    QStringList arguments{QStringLiteral("--job"),   job,
                          QStringLiteral("--trust"), dir.filePath(QStringLiteral("trusted.pub")),
                          QStringLiteral("--log"),   log};
    for (const QString &port : std::as_const(ports))
        arguments << QStringLiteral("--port") << port;
    const quint32 seed = qEnvironmentVariableIsSet("JOBS_SEED")
                             ? quint32(qEnvironmentVariableIntValue("JOBS_SEED"))
                             : QRandomGenerator::global()->generate();
    qInfo("JOBS_SEED=%u", seed);
    QRandomGenerator random(seed);
    const auto okRecords = [&] {
        QFile file(log);
        int ok = 0;
        if (file.open(QIODevice::ReadOnly))
            for (const QByteArray &line : file.readAll().split('\n'))
                ok += QJsonDocument::fromJson(line).object().value(QStringLiteral("result")) ==
                      QJsonValue(QStringLiteral("ok"));
        return ok;
    };
    Approval approval;
    QString why;
    JobRequest request{job, dir.filePath(QStringLiteral("trusted.pub")), true, jobStateFolder()};
    approval = *approveJob(request, &why);
    int left = 20;
    for (int run = 1; run <= 30; ++run) {
        QProcess tool;
        tool.start(flashToolPath(), arguments);
        QVERIFY(tool.waitForStarted());
        // Mostly while or after the boards end (they take a little over 5 s), now and then before.
        const int killAtMs = int(random.bounded(2000, 12000));
        if (!tool.waitForFinished(killAtMs)) {
            ::kill(pid_t(tool.processId()), SIGKILL);
            QVERIFY(tool.waitForFinished(5000));
        }
        const std::unique_ptr<JobCount> count = JobCount::open(jobStateFolder(), approval, &why);
        QVERIFY2(count, qPrintable(why));
        QVERIFY2(count->remaining() <= left, qPrintable(QStringLiteral("run %1: %2 left after %3")
                                                            .arg(run)
                                                            .arg(count->remaining())
                                                            .arg(left)));
        left = count->remaining();
        QVERIFY2(okRecords() <= 20 - left,
                 qPrintable(
                     QStringLiteral("run %1: %2 ok, %3 left").arg(run).arg(okRecords()).arg(left)));
    }
    qInfo("%d boards ended ok under the job of 20; %d left", okRecords(), left);
    QVERIFY(okRecords() <= 20);
}

QTEST_MAIN(TestJobs)
#include "tst_jobs.moc"
