#pragma once

#include "device.h"
#include "wire.h"

#include <QByteArray>
#include <QObject>
#include <QProcess>
#include <QString>

#include <memory>

using devicesim::expectedDownload;
using devicesim::paddedImage;
using devicesim::startCommand;
using devicesim::wakeUpCommand;

#ifdef Q_OS_UNIX
// A simulated device on a fresh pseudo-terminal of its own.
std::unique_ptr<devicesim::Device> ptyDevice(const devicesim::Script &script = devicesim::Script());
#endif

// vantyx-sim in a process of its own, so that its CPU is not counted as the updater's.
class SimulatorProcess
{
public:
    // Its boards end with the test that started them.
    ~SimulatorProcess();
    // Starts it with `arguments` and reads the port it prints.
    bool start(const QStringList &arguments);
    // Waits for it to exit of itself; false if it does not.
    bool finish(int timeoutMs = 10000);
    // The ports of its boards (--count N) as it says them, the first one included; fewer when
    // it does not say them all in time.
    QStringList ports(int count, int timeoutMs = 10000);

    QProcess process;
    QString port;
};
// Drops the one note the offscreen platform prints for every window shown, which would drown
// a real warning, and passes every other message on. Call it once the test's own handler is in
// place (from a test function on); the answerer calls it.
void quietPlatformNotes();

QString simulatorPath();
QString flashToolPath();
QString benchPath();       // vantyx-bench
QString jobToolPath();     // vantyx-job
QString recordsToolPath(); // vantyx-records

#ifdef FLASHLOADER_REMOTE_PORTS
// ser2net on the loopback address in front of pseudo-terminals, one connection each, from a
// configuration it writes: a station of serial ports on the network.
class Ser2netStation
{
public:
    ~Ser2netStation() { stop(); }
    // `kinds` says for each of `devicePorts` "rfc2217" or "socket"; `urls` gets the names to
    // give vantyx-flash. Empty once every port listens, else why not.
    QString start(const QStringList &devicePorts, const QStringList &kinds, const QString &folder,
                  QStringList *urls);
    // As a server that goes away: its connections close.
    void stop();

    QProcess process;
};
// Where ser2net is; empty when it is not installed.
QString ser2netPath();
// A loopback port nobody listens on, for now, and not given before in this process.
quint16 freeLoopbackPort();
#endif
QString updaterPath();

#ifdef Q_OS_UNIX
// Reads `fd` (non-blocking) until `count` bytes came or the time is up, processing events.
QByteArray readFor(int fd, int count, int timeoutMs);
#endif

enum class CpuOf { Process, Thread };
double cpuSeconds(CpuOf whose);

// The host's bytes with the leading whole wake-up commands of the detection taken off.
QByteArray afterDetection(const QByteArray &received);
double msBetween(qint64 fromNs, qint64 toNs);

QByteArray patternImage(int size, quint32 seed = 1);
// `bytes` at `base` as a compiler writes them: Intel HEX (32 bytes a record, extended linear
// addresses) or S-record (S3 records and an S7).
QByteArray intelHexOf(const QByteArray &bytes, quint32 base);
QByteArray sRecordOf(const QByteArray &bytes, quint32 base);
QString writeFile(const QString &dir, const QString &name, const QByteArray &bytes);
// The same, dated a minute ago: a file whole on the disk, read at once by the rule for images
// still being written.
QString writeSettledFile(const QString &dir, const QString &name, const QByteArray &bytes);
