#include "benchwindow/benchwindow.h"
#include "core/serial/closedport.h"
#include "windowrig.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QSerialPort>
#include <QSqlDatabase>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <thread>
#include <vector>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

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
    void closesUnderLoad();

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
    // The bench's store loads the SQLite driver at its first shift. Under Wine 8, loading it
    // after both FlashLoader window tests ran in this process spins in the system's loader for
    // ever (no program runs both): loaded here first.
    QVERIFY(
        QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("early")).isValid());
    QSqlDatabase::removeDatabase(QStringLiteral("early"));
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

void TestDevicePort::closesUnderLoad()
{
    // A port closed a hundred times while its reads are pending and replies arrive, with both
    // CPUs kept busy: the system's completion of a cancelled read may come after the close.
    // Let go as the engine does; the port opens again each time and the heap still checks out.
    if (port("GOOD2").isEmpty())
        QSKIP("VANTYX_DEVICE_GOOD2 is not set");
    std::atomic<bool> done{false};
    std::vector<std::thread> load;
    for (int i = 0; i < 2; ++i)
        load.emplace_back([&done] {
            volatile quint64 spin = 0;
            while (!done)
                spin = spin + 1;
        });
    const auto stop = qScopeGuard([&] {
        done = true;
        for (std::thread &thread : load)
            thread.join();
    });
    QRandomGenerator random(34);
    for (int round = 0; round < 100; ++round) {
        auto *serial = new QSerialPort(port("GOOD2"));
        QVERIFY2(serial->open(QIODevice::ReadWrite),
                 qPrintable(QStringLiteral("round %1: %2").arg(round).arg(serial->errorString())));
        serial->setBaudRate(115200);
        serial->write(wakeUpCommand);
        QTest::qWait(int(random.bounded(0, 4)));
        serial->close();
        releaseClosedPort(serial);
        QCoreApplication::processEvents();
    }
    QTest::qWait(200); // for completions still on their way
#ifdef Q_OS_WIN
    // A completion written into freed memory leaves a heap that no longer checks out.
    HANDLE heaps[256];
    const DWORD count = qMin<DWORD>(GetProcessHeaps(256, heaps), 256);
    for (DWORD i = 0; i < count; ++i)
        QVERIFY2(HeapValidate(heaps[i], 0, nullptr), qPrintable(QStringLiteral("heap %1").arg(i)));
#endif
}

QTEST_MAIN(TestDevicePort)
#include "tst_device_port.moc"
