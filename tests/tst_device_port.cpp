#include "benchwindow/benchwindow.h"
#include "windowrig.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

// The window and vantyx-flash against devices on real serial ports that the environment names,
// as Qt's own serial tests take their port pairs: on Windows (and under Wine) there is no
// pseudo-terminal to play a device on inside the test, so a script starts vantyx-sim at the
// other end of each port and says where. Each variable is VANTYX_DEVICE_<ROLE> (the port) and,
// for the good devices, VANTYX_DEVICE_<ROLE>_OUTPUT (the file it writes each image it received
// to, as this process reaches it). VANTYX_FLASH_LAUNCHER, when set, is a program (and its first
// argument) that vantyx-flash is started through.
//   GOOD, GOOD2  answer everything
//   SILENT       falls silent after block 3
//   STALL        falls silent after block 2, for the window (a device that failed stays so)
//   BAD          answers every block with a letter
//   UNPLUG       drops the line once block 5 has come (once: the device ends with it)
class TestDevicePort : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void windowDownload();
    void windowFailure();
    void flashToolBench();
    void benchWindow();

private:
    static QString port(const char *role) { return environment(role); }
    static QString environment(const char *role, const char *suffix = "")
    {
        return qEnvironmentVariable(QByteArray("VANTYX_DEVICE_") + role + suffix);
    }
    // What the good device `role` received in its last complete download; empties it first
    // when `clear`.
    static QByteArray received(const char *role, bool clear = false);

    QTemporaryDir dir;
};

void TestDevicePort::initTestCase()
{
    if (port("GOOD").isEmpty())
        QSKIP("No device ports given: set VANTYX_DEVICE_GOOD and the others (see the top of "
              "this file); scripts/dev.sh windows does under Wine.");
    QVERIFY(dir.isValid());
}

QByteArray TestDevicePort::received(const char *role, bool clear)
{
    QFile file(environment(role, "_OUTPUT"));
    if (clear) {
        file.remove();
        return {};
    }
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void TestDevicePort::windowDownload()
{
    // Detection, settling, every block through this system's serial back end, "Firmware sent".
    const QByteArray image = patternImage(30 * 256 + 77, 5);
    received("GOOD", true);
    Operator updater;
    updater.usePort(port("GOOD"));
    QVERIFY(updater.detect());
    updater.flash(writeFile(dir.path(), QStringLiteral("window.bin"), image));
    QVERIFY(updater.waitForBox(QStringLiteral("Firmware sent"), 20000));
    QTRY_VERIFY_WITH_TIMEOUT(updater.isIdle(), 2000);
    QTRY_COMPARE_WITH_TIMEOUT(received("GOOD"), paddedImage(image), 5000);
    QCOMPARE(updater.answerer.count(QStringLiteral("Failed to flash!")), 0);
}

void TestDevicePort::windowFailure()
{
    if (port("STALL").isEmpty())
        QSKIP("VANTYX_DEVICE_STALL is not set");
    Operator updater;
    updater.usePort(port("STALL"));
    QVERIFY(updater.detect());
    updater.flash(writeFile(dir.path(), QStringLiteral("silent.bin"), patternImage(10 * 256, 6)));
    QVERIFY(updater.waitForBox(QStringLiteral("Failed to flash!"), 20000));
    const ShownBox box = updater.answerer.boxes.last();
    QCOMPARE(warningBoxFault(box, &updater.window), QString());
    QTRY_VERIFY2_WITH_TIMEOUT(updater.isIdle(), qPrintable(updater.idleReport()), 2000);
}

void TestDevicePort::flashToolBench()
{
    const QList<const char *> roles{"GOOD", "GOOD2", "SILENT", "BAD", "UNPLUG"};
    for (const char *role : roles)
        if (port(role).isEmpty())
            QSKIP(
                qPrintable(QStringLiteral("VANTYX_DEVICE_%1 is not set").arg(QLatin1String(role))));
    const QByteArray image = patternImage(24 * 256 + 5, 7);
    const QString imagePath = writeFile(dir.path(), QStringLiteral("bench.bin"), image);
    const QString json = dir.filePath(QStringLiteral("bench.json"));
    received("GOOD", true);
    received("GOOD2", true);

    QStringList arguments;
    for (const char *role : roles)
        arguments << QStringLiteral("--port") << port(role);
    // A device that never answers fails in seconds, not after the default minute.
    arguments << QStringLiteral("--detect-timeout") << QStringLiteral("10");
    arguments << QStringLiteral("--json") << QDir::toNativeSeparators(json)
              << QDir::toNativeSeparators(imagePath);
    QString program = flashToolPath();
    const QStringList launcher =
        qEnvironmentVariable("VANTYX_FLASH_LAUNCHER").split(QLatin1Char(';'), Qt::SkipEmptyParts);
    if (!launcher.isEmpty()) {
        arguments = launcher.mid(1) + QStringList{QDir::toNativeSeparators(program)} + arguments;
        program = launcher.first();
    }
    QProcess tool;
    tool.start(program, arguments);
    QVERIFY2(tool.waitForFinished(40000), tool.readAllStandardError().constData());
    const QString errors = QString::fromLocal8Bit(tool.readAllStandardError());
    QVERIFY2(tool.exitCode() == 1, qPrintable(errors));

    QCOMPARE(received("GOOD"), paddedImage(image));
    QCOMPARE(received("GOOD2"), paddedImage(image));
    QFile file(json);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    QJsonParseError parsed;
    const QJsonObject report = QJsonDocument::fromJson(text, &parsed).object();
    // Should it ever fail here: whether the file was whole when read.
    QVERIFY2(parsed.error == QJsonParseError::NoError,
             qPrintable(QStringLiteral("%1 at %2 of %3 bytes, %4 on disk now")
                            .arg(parsed.errorString())
                            .arg(parsed.offset)
                            .arg(text.size())
                            .arg(QFileInfo(json).size())));
    // What the tool said and wrote, should a row below fail.
    qDebug("vantyx-flash said:\n%s\nand wrote:\n%s", qPrintable(errors), text.constData());
    // Per port: the result and how many blocks the device took.
    const QHash<QString, QPair<QString, int>> expected{
        {port("GOOD"), {QStringLiteral("ok"), 25}},
        {port("GOOD2"), {QStringLiteral("ok"), 25}},
        {port("SILENT"), {QStringLiteral("failed"), 3}},
        {port("BAD"), {QStringLiteral("failed"), 0}},
        {port("UNPLUG"), {QStringLiteral("port-error"), 5}},
    };
    const QJsonArray boards = report.value(QStringLiteral("devices")).toArray();
    QCOMPARE(boards.size(), roles.size());
    for (const QJsonValue &value : boards) {
        const QJsonObject board = value.toObject();
        const QString name = board.value(QStringLiteral("port")).toString();
        QVERIFY2(expected.contains(name), qPrintable(name));
        QVERIFY2(board.value(QStringLiteral("result")).toString() == expected.value(name).first,
                 qPrintable(name + QStringLiteral(": ") +
                            board.value(QStringLiteral("message")).toString()));
        QCOMPARE(board.value(QStringLiteral("blocks")).toInt(), expected.value(name).second);
    }
    QCOMPARE(report.value(QStringLiteral("succeeded")).toInt(), 2);
    QCOMPARE(report.value(QStringLiteral("failed")).toInt(), 3);
}

void TestDevicePort::benchWindow()
{
    // Two boards through the engine's job on this system's serial back end, from the bench
    // window: rows the system may not list, flashed with "Flash all waiting".
    if (port("GOOD2").isEmpty())
        QSKIP("VANTYX_DEVICE_GOOD2 is not set");
    QStandardPaths::setTestModeEnabled(true);
    const QByteArray image = patternImage(20 * 256 + 3, 8);
    received("GOOD", true);
    received("GOOD2", true);
    StationOptions options;
    options.ports = {port("GOOD"), port("GOOD2")};
    options.log = dir.filePath(QStringLiteral("bench.jsonl"));
    BenchWindow window(options);
    window.show();
    QVERIFY(window.chooseImage(
        writeSettledFile(dir.path(), QStringLiteral("bench-window.bin"), image)));
    QVERIFY(window.startShift());
    QTRY_COMPARE(window.model().rowCount(), 2);
    auto *flashWaiting = window.findChild<QPushButton *>(QStringLiteral("pushButton_flashWaiting"));
    if (window.counters().passed() == 0 && flashWaiting->isEnabled())
        flashWaiting->click(); // where the system does not list them, they are not watched
    QTRY_VERIFY_WITH_TIMEOUT(window.counters().passed() + window.counters().failed() == 2, 30000);
    QCOMPARE(window.counters().passed(), 2);
    QTRY_COMPARE_WITH_TIMEOUT(received("GOOD"), paddedImage(image), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(received("GOOD2"), paddedImage(image), 5000);
    QVERIFY(window.endShift(false));
}

QTEST_MAIN(TestDevicePort)
#include "tst_device_port.moc"
