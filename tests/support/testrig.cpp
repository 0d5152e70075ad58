#include "testrig.h"

#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDialog>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
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

QString warningBoxFault(const ShownBox &box, const QWidget *window)
{
    QStringList faults;
    if (box.title != QStringLiteral(" "))
        faults << QStringLiteral("title \"%1\"").arg(box.title);
    if (box.parent != window)
        faults << QStringLiteral("not over the window");
    if (box.icon != QMessageBox::Warning)
        faults << QStringLiteral("icon %1").arg(int(box.icon));
    return faults.join(QStringLiteral(", "));
}

ModalAnswerer::ModalAnswerer(int intervalMs, QObject *parent) : QObject(parent)
{
    quietPlatformNotes();
    connect(&m_timer, &QTimer::timeout, this, &ModalAnswerer::poll);
    m_timer.start(intervalMs);
}

int ModalAnswerer::count(const QString &text) const
{
    return int(std::count_if(boxes.cbegin(), boxes.cend(),
                             [&](const ShownBox &box) { return box.text == text; }));
}

void ModalAnswerer::poll()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (auto *box = qobject_cast<QMessageBox *>(modal)) {
        if (!box->isVisible())
            return;
        if (box != m_open) {
            m_open = box;
            QWidget *parent = box->parentWidget();
            boxes.append(
                {box->windowTitle(), box->text(), box->icon(), parent,
                 parent ? QString::fromLatin1(parent->metaObject()->className()) : QString(),
                 box->font(), !box->windowIcon().isNull(), box->standardButtons(),
                 devicesim::nowNs()});
            m_cpuAtSight = cpuSeconds(CpuOf::Thread);
        }
        const qint64 openNs = devicesim::nowNs() - boxes.last().seenAt;
        if (openNs < holdMs * 1000000LL)
            return;
        if (openNs > 0)
            boxes.last().cpuWhileOpen = (cpuSeconds(CpuOf::Thread) - m_cpuAtSight) / (openNs / 1e9);
        m_open = nullptr;
        if (QAbstractButton *ok = box->button(QMessageBox::Ok))
            ok->click();
        else
            box->reject();
        return;
    }
    auto *dialog = qobject_cast<QDialog *>(modal);
    if (!dialog || !dialog->inherits("Bootloader_detector") || dialog == m_lastDetector)
        return;
    m_lastDetector = dialog;
    lastDetectorHadIcon = !dialog->windowIcon().isNull();
    if (onDetector)
        onDetector(dialog);
    else if (pressStart)
        dialog->findChild<QPushButton *>(QStringLiteral("pushButton_BootLoad"))->click();
}

void showOnPort(FlashLoader &window, const QString &port)
{
    auto *ports = window.findChild<QComboBox *>(QStringLiteral("comboBox_select_device"));
    ports->clear();
    ports->addItem(port);
    window.show();
}

ReenteringReadyRead::ReenteringReadyRead(FlashLoader &window)
{
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, &window,
                     [&window] { QMetaObject::invokeMethod(&window, "serialRecieve"); });
    m_timer.start(1);
}

Operator::Operator(int answerEveryMs) : answerer(answerEveryMs) {}

void Operator::usePort(const QString &port)
{
    showOnPort(window, port);
    if (!QTest::qWaitForWindowExposed(&window))
        qWarning("window not exposed");
}

QPushButton *Operator::button(const char *name) const
{
    return window.findChild<QPushButton *>(QString::fromLatin1(name));
}

bool Operator::detect()
{
    QTest::mouseClick(button("pushButton_Detect"), Qt::LeftButton);
    return button("pushButton_Flash")->isEnabled();
}

void Operator::flash(const QString &imagePath)
{
    window.findChild<QLineEdit *>(QStringLiteral("lineEdit_Selected_file"))->setText(imagePath);
    QTest::mouseClick(button("pushButton_Flash"), Qt::LeftButton);
}

bool Operator::waitForBox(const QString &text, int timeoutMs)
{
    const int before = answerer.count(text);
    QDeadlineTimer deadline(timeoutMs);
    while (answerer.count(text) == before && !deadline.hasExpired())
        QTest::qWait(10);
    return answerer.count(text) > before;
}

bool Operator::isIdle() const
{
    return idleReport().isEmpty();
}

QString Operator::idleReport() const
{
    QStringList faults;
    if (window.serialConnection().port())
        faults << QStringLiteral("port still held");
    if (window.isDownloading())
        faults << QStringLiteral("download not idle");
    if (window.holdsFirmwareBuffer())
        faults << QStringLiteral("buffer not released");
    for (const char *name : {"pushButton_Browse", "pushButton_Detect", "pushButton_Rescan"})
        if (!button(name)->isEnabled())
            faults << QString::fromLatin1(name) + QStringLiteral(" disabled");
    if (!window.findChild<QComboBox *>(QStringLiteral("comboBox_select_device"))->isEnabled())
        faults << QStringLiteral("port list disabled");
    if (button("pushButton_Flash")->isEnabled())
        faults << QStringLiteral("Flash enabled");
    return faults.join(QStringLiteral(", "));
}

#ifdef Q_OS_UNIX
std::unique_ptr<devicesim::Device> ptyDevice(const devicesim::Script &script)
{
    auto device = std::make_unique<devicesim::Device>(script);
    QString error;
    if (!device->openPty(&error))
        qFatal("%s", qPrintable(error));
    return device;
}

std::unique_ptr<devicesim::Device> plugIn(Operator &updater, const devicesim::Script &script)
{
    auto device = ptyDevice(script);
    updater.usePort(device->portName());
    return device;
}

Rig::Rig(const devicesim::Script &script) : device(script)
{
    QString error;
    if (!device.openPty(&error))
        qFatal("%s", qPrintable(error));
    usePort(device.portName());
}
#endif

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

bool SimulatorProcess::start(const QStringList &arguments)
{
    process.start(simulatorPath(), arguments);
    if (!process.waitForReadyRead(5000))
        return false;
    const QByteArray line = process.readLine().trimmed();
    port = QString::fromLocal8Bit(line.mid(6));
    return line.startsWith("port: ");
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

QString writeFile(const QString &dir, const QString &name, const QByteArray &bytes)
{
    const QString path = dir + QLatin1Char('/') + name;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
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
