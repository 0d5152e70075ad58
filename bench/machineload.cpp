#include "machineload.h"

#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QThread>

#include <chrono>
#include <sys/resource.h>
#include <unistd.h>

MachineTimes machineTimes()
{
    MachineTimes times;
    times.atNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                     std::chrono::steady_clock::now().time_since_epoch())
                     .count();
    QFile stat(QStringLiteral("/proc/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return times;
    // cpu  user nice system idle iowait irq softirq steal guest guest_nice, in clock ticks
    const QList<QByteArray> fields = stat.readLine().simplified().split(' ');
    if (fields.size() < 9 || fields[0] != "cpu")
        return times;
    auto tick = [&](int i) { return fields[i].toDouble(); };
    const double perSecond = double(::sysconf(_SC_CLK_TCK));
    const double busy = tick(1) + tick(2) + tick(3) + tick(6) + tick(7);
    times.busySeconds = busy / perSecond;
    times.stealSeconds = tick(8) / perSecond;
    times.totalSeconds = (busy + tick(4) + tick(5) + tick(8)) / perSecond;
    return times;
}

Beside besideOf(const MachineTimes &start, const MachineTimes &end, double ownSeconds)
{
    Beside beside;
    const double wall = double(end.atNs - start.atNs) / 1e9;
    const double total = end.totalSeconds - start.totalSeconds;
    if (wall <= 0 || total <= 0)
        return beside;
    beside.otherCores = qMax(0.0, (end.busySeconds - start.busySeconds - ownSeconds) / wall);
    beside.stealShare = (end.stealSeconds - start.stealSeconds) / total;
    return beside;
}

QString Beside::text() const
{
    return QStringLiteral("%1 core other, %2% steal")
        .arg(otherCores, 0, 'f', 3)
        .arg(stealShare * 100, 0, 'f', 1);
}

double waitForQuietMachine(int limitMs)
{
    // Near idle: under a tenth of a CPU busy, the counters' own resolution (10 ms ticks) aside.
    constexpr double quiet = 0.1;
    QElapsedTimer waited;
    waited.start();
    double busy = 0;
    for (;;) {
        const MachineTimes start = machineTimes();
        QThread::msleep(500);
        const MachineTimes end = machineTimes();
        busy = (end.busySeconds - start.busySeconds) / (double(end.atNs - start.atNs) / 1e9);
        if (busy < quiet)
            return 0;
        if (waited.elapsed() >= limitMs)
            return busy;
    }
}

double ownCpuSeconds()
{
    auto seconds = [](int who) {
        rusage usage{};
        ::getrusage(who, &usage);
        return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
               double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    };
    return seconds(RUSAGE_SELF) + seconds(RUSAGE_CHILDREN);
}
