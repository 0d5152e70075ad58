#include "benchwindow/benchoptions.h"
#include "cli/options.h"
#include "testrig.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

// A station's options as each program reads them: the same command line given to vantyx-flash
// and to vantyx-bench is refused with the same words, or taken by both.
class TestStationOptions : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void bothReaders_data();
    void bothReaders();

private:
    QTemporaryDir dir;
    QString before; // the current folder before the test made its own current
};

void TestStationOptions::initTestCase()
{
    // Relative names are read against the current folder, as the programs read them.
    before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    writeFile(dir.path(), QStringLiteral("fw.bin"), patternImage(3 * 256));
    writeFile(dir.path(), QStringLiteral("bench.ini"), "[slots]\nA1 = /dev/ttyUSB0\n");
    writeFile(dir.path(), QStringLiteral("escape.ini"), "[slots]\nA\x1b[2J1 = /dev/ttyUSB0\n");
    writeFile(dir.path(), QStringLiteral("empty.ini"), "[station]\nusb = 0403:6001\n");
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("a")));
    QVERIFY(::mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("pipe"))).constData(), 0600) ==
            0);
    // A link to a file no program has made yet.
    QVERIFY(QFile::link(dir.filePath(QStringLiteral("not-yet.jsonl")),
                        dir.filePath(QStringLiteral("dangling"))));
}

void TestStationOptions::cleanupTestCase()
{
    QDir::setCurrent(before);
}

void TestStationOptions::bothReaders_data()
{
    // %d is the test's folder; "" in `error` is a command line both programs take.
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("error");
    auto row = [](const char *name, const char *arguments, const char *error) {
        QTest::newRow(name) << QString::fromUtf8(arguments).split(QLatin1Char(' '))
                            << QString::fromUtf8(error);
    };
    row("a station's files, all apart",
        "--log %d/a.jsonl --metrics-file %d/a.prom --slots "
        "%d/bench.ini --tag WO-1 fw.bin",
        "");
    // One file not made yet, spelt two ways: whatever the spelling, one file.
    row("log and metrics file, ./x and x", "--log shift.jsonl --metrics-file ./shift.jsonl fw.bin",
        "--log and --metrics-file name the same file");
    row("relative and absolute", "--log x.jsonl --metrics-file %d/x.jsonl fw.bin",
        "--log and --metrics-file name the same file");
    row("a/../x and x", "--log %d/a/../x.jsonl --metrics-file %d/x.jsonl fw.bin",
        "--log and --metrics-file name the same file");
    row("a link to nothing yet, and its target",
        "--log %d/dangling --metrics-file %d/not-yet.jsonl fw.bin",
        "--log and --metrics-file name the same file");
    // Nothing the station reads is written over.
    row("log over the image", "--log ./fw.bin fw.bin", "--log would overwrite the image fw.bin");
    row("metrics over the image", "--metrics-file %d/fw.bin fw.bin",
        "--metrics-file would overwrite the image fw.bin");
    row("log over the slot file", "--slots bench.ini --log %d/bench.ini fw.bin",
        "--log would overwrite the slot file bench.ini");
    // A pipe nobody reads or writes would hold the program in its open for ever.
    row("log into a pipe", "--log %d/pipe fw.bin", "--log: %d/pipe is a pipe, not a file");
    row("metrics into a pipe", "--metrics-file %d/pipe fw.bin",
        "--metrics-file: %d/pipe is a pipe, not a file");
    row("slots from a pipe", "--slots %d/pipe fw.bin",
        "--slots: %d/pipe is a pipe or a device, not a file");
    row("log into a folder", "--log %d/a fw.bin", "--log: %d/a is a folder");
    row("log in a missing folder", "--log %d/b/../x.jsonl fw.bin", "--log: no folder %d/b/..");
    row("slots missing", "--slots %d/none.ini fw.bin", "--slots: no such file %d/none.ini");
    row("slots naming none", "--slots empty.ini fw.bin", "empty.ini names no slots");
    row("an escape in a slot's name", "--slots escape.ini fw.bin",
        "escape.ini:2: a control character in a name");
    row("a tag with an escape", "--tag WO\x1b[2J fw.bin",
        "--tag takes a text without control characters");
    row("a port with an escape", "--port /dev/tty\x1b[2J fw.bin",
        "--port takes a port name without control characters");
    row("one port, two names", "--port /dev/null --port /dev/../dev/null fw.bin",
        "/dev/null and /dev/../dev/null are the same port");
    row("adapter", "--usb 0403 fw.bin", "--usb takes VID:PID in hex, as 0403:6001; not 0403");
    row("detect limit", "--detect-timeout soon fw.bin",
        "--detect-timeout takes seconds, from 0 (for ever) to 86400");
    row("image size", "--max-image-size 3G fw.bin",
        "--max-image-size takes a size from 256 bytes to 2047M, as 16M, 512K or 65536");
    row("two images", "fw.bin fw.bin", "one image only; unexpected: fw.bin");
    row("the line's store", "--store postgresql://qa@line-b:5433/vantyx fw.bin", "");
    row("a line's store without its user", "--store postgresql://line-b/vantyx fw.bin",
        "--store: postgresql://line-b/vantyx: give postgresql://USER@HOST:PORT/DATABASE");
    row("a store of another kind", "--store mysql://qa@line-b/vantyx fw.bin",
        "--store: mysql://qa@line-b/vantyx: give postgresql://USER@HOST:PORT/DATABASE");
}

void TestStationOptions::bothReaders()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, error);
    arguments.replaceInStrings(QStringLiteral("%d"), dir.path());
    error.replace(QStringLiteral("%d"), dir.path());

    FlashOptions flash;
    QString flashError;
    // vantyx-flash needs ports to run at all: --watch takes them, as a station does.
    const bool flashTook = parseFlashOptions(
        QStringList{QStringLiteral("vantyx-flash"), QStringLiteral("--watch")} + arguments, &flash,
        &flashError);
    QCOMPARE(flashError, error);
    QCOMPARE(flashTook, error.isEmpty());

    QCommandLineParser parser;
    describeBenchOptions(parser);
    QVERIFY(parser.parse(QStringList{QStringLiteral("vantyx-bench")} + arguments));
    BenchOptions bench;
    QCOMPARE(readBenchOptions(parser, &bench), error);
    if (error.isEmpty()) // and both read the same station
        QCOMPARE(bench.station.log, flash.station.log);
}

QTEST_MAIN(TestStationOptions)
#include "tst_stationoptions.moc"
