#include "testrig.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QTest>

#include <cstdio>
#include <random>

#ifdef FLASHLOADER_REMOTE_PORTS
#include <QSet>
#include <QTcpServer>
#endif

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <sys/resource.h>
#include <unistd.h>
#endif

#ifdef Q_OS_UNIX
std::unique_ptr<devicesim::Device> ptyDevice(const devicesim::Script &script)
{
    auto device = std::make_unique<devicesim::Device>(script);
    QString error;
    if (!device->openPty(&error))
        qFatal("%s", qPrintable(error));
    return device;
}
#endif

namespace {

QtMessageHandler passOn = nullptr;

void dropPlatformNotes(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (text == QLatin1String("This plugin does not support propagateSizeHints()"))
        return;
    if (passOn)
        passOn(type, context, text);
    else
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
}

} // namespace

void quietPlatformNotes()
{
    static bool installed = false;
    if (!installed)
        passOn = qInstallMessageHandler(dropPlatformNotes);
    installed = true;
}

QString simulatorPath()
{
    return QStringLiteral(VANTYX_SIM_PATH);
}

QString updaterPath()
{
    return QStringLiteral(FLASHLOADER_PATH);
}

QString flashToolPath()
{
    return QStringLiteral(VANTYX_FLASH_PATH);
}

QString benchPath()
{
    return QStringLiteral(VANTYX_BENCH_PATH);
}

QString jobToolPath()
{
    return QStringLiteral(VANTYX_JOB_PATH);
}

QString recordsToolPath()
{
    return QStringLiteral(VANTYX_RECORDS_PATH);
}

bool SimulatorProcess::start(const QStringList &arguments)
{
    process.start(simulatorPath(), arguments);
    if (!process.waitForReadyRead(5000))
        return false;
    const QByteArray line = process.readLine().trimmed();
    port = QString::fromLocal8Bit(line.mid(6));
    return line.startsWith("port: ");
}

SimulatorProcess::~SimulatorProcess()
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.kill();
    process.waitForFinished(5000);
}

QStringList SimulatorProcess::ports(int count, int timeoutMs)
{
    QStringList said{port};
    QDeadlineTimer deadline(timeoutMs);
    while (said.size() < count && !deadline.hasExpired()) {
        process.waitForReadyRead(100);
        while (process.canReadLine()) {
            const QByteArray line = process.readLine().trimmed();
            if (line.startsWith("port: "))
                said << QString::fromLocal8Bit(line.mid(6));
        }
    }
    return said;
}

bool SimulatorProcess::finish(int timeoutMs)
{
    return process.state() == QProcess::NotRunning || process.waitForFinished(timeoutMs);
}

#ifdef Q_OS_UNIX
QByteArray readFor(int fd, int count, int timeoutMs)
{
    QByteArray bytes;
    QDeadlineTimer deadline(timeoutMs);
    while (bytes.size() < count && !deadline.hasExpired()) {
        char chunk[64];
        const ssize_t n = ::read(fd, chunk, size_t(qMin<qsizetype>(count - bytes.size(), 64)));
        if (n > 0)
            bytes.append(chunk, n);
        else
            QTest::qWait(2); // a port in this thread writes from the event loop
    }
    return bytes;
}
#endif

double cpuSeconds(CpuOf whose)
{
#ifdef Q_OS_WIN
    FILETIME created, exited, kernel, user;
    const BOOL ok = whose == CpuOf::Thread
                        ? GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)
                        : GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    if (!ok)
        return 0;
    const auto ticks = [](const FILETIME &time) {
        return double((quint64(time.dwHighDateTime) << 32) | time.dwLowDateTime);
    };
    return (ticks(kernel) + ticks(user)) / 1e7; // in 100 ns
#else
    rusage usage{};
    getrusage(whose == CpuOf::Thread ? RUSAGE_THREAD : RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
#endif
}

QByteArray patternImage(int size, quint32 seed)
{
    std::mt19937 random(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &byte : bytes)
        byte = char(random() & 0xFF);
    return bytes;
}

QByteArray intelHexOf(const QByteArray &bytes, quint32 base)
{
    auto record = [](int type, quint16 offset, const QByteArray &data) {
        QByteArray raw;
        raw.append(char(data.size())).append(char(offset >> 8)).append(char(offset));
        raw.append(char(type)).append(data);
        quint8 sum = 0;
        for (char byte : raw)
            sum += quint8(byte);
        return ':' + raw.append(char(-sum)).toHex().toUpper() + "\r\n";
    };
    QByteArray out;
    quint32 upper = ~0u;
    for (qsizetype at = 0; at < bytes.size(); at += 32) {
        const quint32 address = base + quint32(at);
        if (address >> 16 != upper) {
            upper = address >> 16;
            out += record(4, 0, QByteArray(1, char(upper >> 8)) + char(upper));
        }
        out += record(0, quint16(address), bytes.mid(at, 32));
    }
    return out + record(1, 0, QByteArray());
}

QByteArray sRecordOf(const QByteArray &bytes, quint32 base)
{
    auto record = [](char type, quint32 address, const QByteArray &data) {
        QByteArray raw;
        raw.append(char(4 + data.size() + 1));
        for (int shift = 24; shift >= 0; shift -= 8)
            raw.append(char(address >> shift));
        raw.append(data);
        quint8 sum = 0;
        for (char byte : raw)
            sum += quint8(byte);
        return QByteArray("S") + type + raw.append(char(~sum)).toHex().toUpper() + '\n';
    };
    QByteArray out;
    for (qsizetype at = 0; at < bytes.size(); at += 32)
        out += record('3', base + quint32(at), bytes.mid(at, 32));
    return out + record('7', base, QByteArray());
}

QString writeFile(const QString &dir, const QString &name, const QByteArray &bytes)
{
    const QString path = dir + QLatin1Char('/') + name;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

QString writeSettledFile(const QString &dir, const QString &name, const QByteArray &bytes)
{
    const QString path = writeFile(dir, name, bytes);
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite) ||
        !file.setFileTime(QDateTime::currentDateTime().addSecs(-60),
                          QFileDevice::FileModificationTime))
        qFatal("cannot date %s", qPrintable(path));
    return path;
}

QByteArray afterDetection(const QByteArray &received)
{
    qsizetype at = 0;
    while (received.mid(at, wakeUpCommand.size()) == wakeUpCommand)
        at += wakeUpCommand.size();
    return received.mid(at);
}

double msBetween(qint64 fromNs, qint64 toNs)
{
    return double(toNs - fromNs) / 1e6;
}

#ifdef FLASHLOADER_REMOTE_PORTS
namespace {

// Whether something listens on the loopback `port`, from the kernel's table: connecting to
// ask would take ser2net's one connection for that port.
bool loopbackListening(quint16 port)
{
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return false;
    const QByteArray local =
        "0100007F:" + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    const QList<QByteArray> lines = table.readAll().split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 3 && fields.at(1) == local && fields.at(3) == "0A")
            return true;
    }
    return false;
}

} // namespace

QString ser2netPath()
{
    return QStandardPaths::findExecutable(
        QStringLiteral("ser2net"), {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin")});
}

quint16 freeLoopbackPort()
{
    // The system may give a port back as soon as it is closed: never hand one out twice.
    static QSet<quint16> given;
    for (int tries = 0; tries < 100; ++tries) {
        QTcpServer server;
        if (!server.listen(QHostAddress::LocalHost, 0))
            return 0;
        if (!given.contains(server.serverPort())) {
            given.insert(server.serverPort());
            return server.serverPort();
        }
    }
    return 0;
}

QString Ser2netStation::start(const QStringList &devicePorts, const QStringList &kinds,
                              const QString &folder, QStringList *urls)
{
    const QString program = ser2netPath();
    if (program.isEmpty())
        return QStringLiteral("ser2net is not installed");
    QList<quint16> ports;
    QString config;
    for (qsizetype i = 0; i < devicePorts.size(); ++i) {
        const quint16 port = freeLoopbackPort();
        const bool rfc2217 = kinds.at(i) == QStringLiteral("rfc2217");
        ports << port;
        *urls << QStringLiteral("%1://127.0.0.1:%2").arg(kinds.at(i)).arg(port);
        // No character delay: it holds each reply back to gather more.
        config += QStringLiteral("connection: &c%1\n"
                                 "    accepter: %2tcp,127.0.0.1,%1\n"
                                 "    connector: serialdev,%3,115200n81,local\n"
                                 "    options:\n"
                                 "      chardelay: false\n"
                                 "      mdns: false\n\n")
                      .arg(port)
                      .arg(rfc2217 ? QStringLiteral("telnet(rfc2217),") : QString())
                      .arg(devicePorts.at(i));
    }
    QTemporaryFile *file =
        new QTemporaryFile(folder + QStringLiteral("/ser2net-XXXXXX.yaml"), &process);
    if (!file->open() || file->write(config.toUtf8()) != config.toUtf8().size() || !file->flush())
        return QStringLiteral("cannot write its configuration");
    // It says it cannot announce its ports (no mDNS here): noise for a test.
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(program, {QStringLiteral("-n"), QStringLiteral("-d"), QStringLiteral("-c"),
                            file->fileName(), QStringLiteral("-P"),
                            file->fileName() + QStringLiteral(".pid")});
    if (!process.waitForStarted())
        return process.errorString();
    QDeadlineTimer deadline(5000);
    for (const quint16 port : std::as_const(ports)) {
        while (!loopbackListening(port)) {
            if (deadline.hasExpired() || process.state() != QProcess::Running)
                return QStringLiteral("ser2net does not listen on %1").arg(port);
            QTest::qWait(20);
        }
    }
    return QString();
}

void Ser2netStation::stop()
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(3000)) {
        process.kill();
        process.waitForFinished();
    }
}
#endif
