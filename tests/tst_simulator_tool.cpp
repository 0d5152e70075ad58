#include "pseudoterminal.h"
#include "windowrig.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

class TestSimulatorTool : public QObject
{
    Q_OBJECT

private slots:
    void updaterDownloadsThroughTool();
    void portModeChecksEveryChecksum();
    void badArguments_data();
    void badArguments();
    void portThatCannotBeOpened();

private:
    QTemporaryDir dir;
};

void TestSimulatorTool::updaterDownloadsThroughTool()
{
    const QString output = dir.filePath(QStringLiteral("received.bin"));
    SimulatorProcess sim;
    QVERIFY(sim.start({QStringLiteral("--pty"), QStringLiteral("--once"),
                       QStringLiteral("--output"), output, QStringLiteral("--resend-rate"),
                       QStringLiteral("0.3"), QStringLiteral("--seed"), QStringLiteral("4")}));
    QVERIFY2(sim.port.startsWith(QStringLiteral("/dev/")), qPrintable(sim.port));

    Operator updater;
    updater.usePort(sim.port);
    QVERIFY(updater.detect());
    const QByteArray image = patternImage(3000, 11);
    updater.flash(writeFile(dir.path(), QStringLiteral("image.bin"), image));
    QVERIFY(updater.waitForBox(QStringLiteral("Firmware sent"), 10000));

    QVERIFY(sim.finish());
    QCOMPARE(sim.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.process.exitCode(), 0);
    const QByteArray summary = sim.process.readAllStandardOutput().trimmed();
    const QRegularExpression line(QStringLiteral("^download: blocks=12 resends=(\\d+) bytes=3072 "
                                                 "time=\\d+\\.\\d{3}s rate=\\d+B/s result=ok$"));
    const QRegularExpressionMatch match = line.match(QString::fromLatin1(summary));
    QVERIFY2(match.hasMatch(), summary.constData());
    QVERIFY(match.captured(1).toInt() > 0); // a rate of 0.3 over 12 blocks resends some

    QFile received(output);
    QVERIFY(received.open(QIODevice::ReadOnly));
    QCOMPARE(received.readAll(), paddedImage(image));
}

void TestSimulatorTool::portModeChecksEveryChecksum()
{
    devicesim::Pty pty;
    QVERIFY2(pty.isOpen(), qPrintable(pty.error));
    SimulatorProcess sim;
    QVERIFY(sim.start({QStringLiteral("--port"), pty.path, QStringLiteral("--once")}));
    QCOMPARE(sim.port, pty.path);

    // The host's side by hand: start, size word for one block, a bad checksum, then a good one.
    QCOMPARE(::write(pty.master, startCommand.constData(), 4), ssize_t(4));
    QCOMPARE(readFor(pty.master, 2, 2000), QByteArray("OK"));
    QCOMPARE(::write(pty.master, "\x00\x01\x00\x00", 4), ssize_t(4));
    QCOMPARE(readFor(pty.master, 2, 2000), QByteArray("OK"));
    QByteArray frame(256, char(0x01));
    frame.append(char(0x01)); // the sum is 0x00, so the checksum must be 0xFF
    QCOMPARE(::write(pty.master, frame.constData(), 257), ssize_t(257));
    QCOMPARE(readFor(pty.master, 1, 2000), devicesim::resend);
    frame[256] = char(0xFF);
    QCOMPARE(::write(pty.master, frame.constData(), 100), ssize_t(100)); // any chunking
    QCOMPARE(::write(pty.master, frame.constData() + 100, 157), ssize_t(157));
    QCOMPARE(readFor(pty.master, 1, 2000), devicesim::ack);

    QVERIFY(sim.finish());
    QCOMPARE(sim.process.exitCode(), 0);
    QVERIFY(sim.process.readAllStandardOutput().startsWith(
        "download: blocks=1 resends=1 bytes=256 time="));
}

void TestSimulatorTool::badArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    QTest::newRow("no line") << QStringList() << QStringLiteral("--pty and --port");
    QTest::newRow("both lines") << QStringList({QStringLiteral("--pty"), QStringLiteral("--port"),
                                                QStringLiteral("x")})
                                << QStringLiteral("--pty and --port");
    QTest::newRow("unknown option")
        << QStringList({QStringLiteral("--fast")}) << QStringLiteral("Unknown option 'fast'");
    QTest::newRow("rate above 1") << QStringList({QStringLiteral("--pty"),
                                                  QStringLiteral("--resend-rate"),
                                                  QStringLiteral("1.5")})
                                  << QStringLiteral("--resend-rate takes");
    QTest::newRow("negative delay")
        << QStringList({QStringLiteral("--pty"), QStringLiteral("--block-delay=-5")})
        << QStringLiteral("--block-delay takes");
    QTest::newRow("missing value")
        << QStringList({QStringLiteral("--pty"), QStringLiteral("--line-rate")})
        << QStringLiteral("Missing value after '--line-rate'");
    QTest::newRow("negative latency")
        << QStringList({QStringLiteral("--pty"), QStringLiteral("--reply-latency=-1")})
        << QStringLiteral("--reply-latency takes");
    QTest::newRow("many devices on one port")
        << QStringList({QStringLiteral("--port"), QStringLiteral("x"), QStringLiteral("--count"),
                        QStringLiteral("2")})
        << QStringLiteral("--count goes with --pty");
    QTest::newRow("stray word") << QStringList({QStringLiteral("--pty"), QStringLiteral("now")})
                                << QStringLiteral("unexpected argument: now");
}

void TestSimulatorTool::badArguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    QProcess sim;
    sim.start(simulatorPath(), arguments);
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitCode(), 2);
    const QString error = QString::fromLocal8Bit(sim.readAllStandardError());
    QVERIFY2(error.startsWith(QStringLiteral("vantyx-sim: ")) && error.contains(message),
             qPrintable(error));
    QVERIFY(sim.readAllStandardOutput().isEmpty());
}

void TestSimulatorTool::portThatCannotBeOpened()
{
    QProcess sim;
    sim.start(simulatorPath(), {QStringLiteral("--port"), QStringLiteral("/dev/no-such-port")});
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitCode(), 1);
    QCOMPARE(
        QString::fromLocal8Bit(sim.readAllStandardError()),
        QStringLiteral("vantyx-sim: cannot open /dev/no-such-port: No such file or directory\n"));
}

QTEST_MAIN(TestSimulatorTool)
#include "tst_simulator_tool.moc"
