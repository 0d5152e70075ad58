#include "testrig.h"

#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

bool finished(QProcess &process)
{
    return process.state() == QProcess::NotRunning || process.waitForFinished(5000);
}

const QString tool = QStringLiteral(VANTYX_SIM_PATH);

// Reads the master side until `count` bytes came or the time is up.
QByteArray readFrom(int fd, int count, int timeoutMs)
{
    QByteArray bytes;
    QDeadlineTimer deadline(timeoutMs);
    while (bytes.size() < count && !deadline.hasExpired()) {
        char chunk[64];
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n > 0)
            bytes.append(chunk, n);
        else
            QThread::msleep(2);
    }
    return bytes;
}

} // namespace

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
    QProcess sim;
    sim.start(tool, {QStringLiteral("--pty"), QStringLiteral("--once"), QStringLiteral("--output"),
                     output, QStringLiteral("--resend-rate"), QStringLiteral("0.3"),
                     QStringLiteral("--seed"), QStringLiteral("4")});
    QVERIFY(sim.waitForReadyRead(5000));
    const QByteArray first = sim.readLine().trimmed();
    QVERIFY2(first.startsWith("port: /dev/"), first.constData());

    FlashLoader window;
    ModalAnswerer answerer;
    showOnPort(window, QString::fromLocal8Bit(first.mid(6)));
    QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("pushButton_Detect")),
                      Qt::LeftButton);
    const QByteArray image = patternImage(3000, 11);
    window.findChild<QLineEdit *>(QStringLiteral("lineEdit_Selected_file"))
        ->setText(writeFile(dir.path(), QStringLiteral("image.bin"), image));
    QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("pushButton_Flash")),
                      Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(answerer.count(QStringLiteral("Firmware sent")), 1, 10000);

    QVERIFY(finished(sim));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
    const QByteArray summary = sim.readAllStandardOutput().trimmed();
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
    int master = -1, slave = -1;
    char name[256] = {};
    QCOMPARE(openpty(&master, &slave, name, nullptr, nullptr), 0);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);

    QProcess sim;
    sim.start(tool,
              {QStringLiteral("--port"), QString::fromLocal8Bit(name), QStringLiteral("--once")});
    QVERIFY(sim.waitForReadyRead(5000));
    QCOMPARE(sim.readLine().trimmed(), QByteArray("port: ") + name);

    // The host's side by hand: start, size word for one block, a bad checksum, then a good one.
    QCOMPARE(::write(master, startCommand.constData(), 4), ssize_t(4));
    QCOMPARE(readFrom(master, 2, 2000), QByteArray("OK"));
    QCOMPARE(::write(master, "\x00\x01\x00\x00", 4), ssize_t(4));
    QCOMPARE(readFrom(master, 2, 2000), QByteArray("OK"));
    QByteArray frame(256, char(0x01));
    frame.append(char(0x01)); // the sum is 0x00, so the checksum must be 0xFF
    QCOMPARE(::write(master, frame.constData(), 257), ssize_t(257));
    QCOMPARE(readFrom(master, 1, 2000), devicesim::resend);
    frame[256] = char(0xFF);
    QCOMPARE(::write(master, frame.constData(), 100), ssize_t(100)); // any chunking
    QCOMPARE(::write(master, frame.constData() + 100, 157), ssize_t(157));
    QCOMPARE(readFrom(master, 1, 2000), devicesim::ack);

    QVERIFY(finished(sim));
    QCOMPARE(sim.exitCode(), 0);
    QVERIFY(sim.readAllStandardOutput().startsWith("download: blocks=1 resends=1 bytes=256 time="));
    ::close(master);
    ::close(slave);
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
    QTest::newRow("stray word") << QStringList({QStringLiteral("--pty"), QStringLiteral("now")})
                                << QStringLiteral("unexpected argument: now");
}

void TestSimulatorTool::badArguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    QProcess sim;
    sim.start(tool, arguments);
    QVERIFY(finished(sim));
    QCOMPARE(sim.exitCode(), 2);
    const QString error = QString::fromLocal8Bit(sim.readAllStandardError());
    QVERIFY2(error.startsWith(QStringLiteral("vantyx-sim: ")) && error.contains(message),
             qPrintable(error));
    QVERIFY(sim.readAllStandardOutput().isEmpty());
}

void TestSimulatorTool::portThatCannotBeOpened()
{
    QProcess sim;
    sim.start(tool, {QStringLiteral("--port"), QStringLiteral("/dev/no-such-port")});
    QVERIFY(finished(sim));
    QCOMPARE(sim.exitCode(), 1);
    QCOMPARE(
        QString::fromLocal8Bit(sim.readAllStandardError()),
        QStringLiteral("vantyx-sim: cannot open /dev/no-such-port: No such file or directory\n"));
}

QTEST_MAIN(TestSimulatorTool)
#include "tst_simulator_tool.moc"
