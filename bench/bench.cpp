// Measures the updater against the line's limits, with the real window offscreen and the
// simulated device in a process of its own, so that the CPU counted is the updater's alone.
//   flashloader_bench            full run, medians of several runs (a few minutes)
//   flashloader_bench --quick    one short run of each, as CI does
//   --rounds N     that many full runs, then each figure's low, median and high over them
//   --only rate|wire|cpu|bench|local|crowd|stored|stations|hex|window64|store   one measure,
//                  in this process;
//   --runs N       that many runs of each measure
//   --no-metrics   the local row without serving and scraping metrics, to see what they cost
// A full run measures each measure in a process of its own, started once the machine is quiet,
// so that no measure inherits an earlier one's threads, timers, children or heap, and says
// what else the machine ran beside each.

#include "benchtable.h"
#include "benchwindow/benchwindow.h"
#include "figures.h"
#include "machineload.h"
#include "postgresserver.h"
#include "referencehost.h"
#include "storemeasure.h"
#include "windowrig.h"

#include <QAction>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <future>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

// Image bytes per second of the blocks, from the first block to the last reply, of each
// download the simulator completed, as its summary lines give them.
QList<double> completedRates(const QByteArray &simulatorOutput)
{
    static const QRegularExpression summary(
        QStringLiteral("download: .* rate=([0-9]+)B/s result=ok"));
    QList<double> rates;
    QRegularExpressionMatchIterator matches =
        summary.globalMatch(QString::fromLatin1(simulatorOutput));
    while (matches.hasNext())
        rates << matches.next().captured(1).toDouble();
    return rates;
}

// The rate of the simulator's first completed download; false when it completed none.
bool simulatorRate(SimulatorProcess &sim, double *rate)
{
    if (!sim.finish())
        return false;
    const QList<double> rates = completedRates(sim.process.readAllStandardOutput());
    if (rates.isEmpty())
        return false;
    *rate = rates.first();
    return true;
}

QStringList simulatorArguments(const QStringList &extra)
{
    return QStringList{QStringLiteral("--pty"), QStringLiteral("--once")} + extra;
}

struct UpdaterRun
{
    bool ok = false;
    double rate = 0;               // image bytes per second of the blocks, as the device saw them
    double cpuPerSecond = 0;       // the updater's process, first to last acknowledged block
    double threadCpuPerSecond = 0; // its window's thread alone
    QString threads;               // the process's other threads then, by name
};

// The names of this process's threads but the calling one, "name xN" for several alike: what
// else runs beside a measure.
QString otherThreads()
{
    QMap<QString, int> names;
    const QString self = QString::number(qint64(::gettid()));
    const QStringList tasks =
        QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &task : tasks) {
        if (task == self)
            continue;
        QFile comm(QStringLiteral("/proc/self/task/%1/comm").arg(task));
        if (comm.open(QIODevice::ReadOnly))
            ++names[QString::fromLocal8Bit(comm.readAll().trimmed())];
    }
    QStringList said;
    for (auto it = names.cbegin(); it != names.cend(); ++it)
        said << (it.value() > 1 ? QStringLiteral("%1 x%2").arg(it.key()).arg(it.value())
                                : it.key());
    return said.isEmpty() ? QStringLiteral("none") : said.join(QStringLiteral(", "));
}

UpdaterRun runUpdater(const QStringList &simArguments, const QByteArray &image,
                      const QString &imagePath)
{
    UpdaterRun run;
    SimulatorProcess sim;
    if (!sim.start(simulatorArguments(simArguments)))
        return run;

    Operator updater(100);
    updater.usePort(sim.port);
    if (!updater.detect())
        return run;

    double cpuFirst = -1, cpuLast = -1, threadFirst = -1, threadLast = -1;
    QElapsedTimer wall;
    qint64 wallLast = 0;
    auto *progress = updater.window.findChild<QProgressBar *>(QStringLiteral("progressBar"));
    QObject::connect(progress, &QProgressBar::valueChanged, [&](int value) {
        if (value == 256) {
            cpuFirst = cpuSeconds(CpuOf::Process);
            threadFirst = cpuSeconds(CpuOf::Thread);
            wall.start();
        } else if (value == image.size() - 1 && cpuFirst >= 0) {
            cpuLast = cpuSeconds(CpuOf::Process);
            threadLast = cpuSeconds(CpuOf::Thread);
            wallLast = wall.nsecsElapsed();
            run.threads = otherThreads();
        }
    });
    updater.flash(imagePath);
    QDeadlineTimer deadline(120000);
    while (updater.answerer.boxes.isEmpty() && !deadline.hasExpired())
        QTest::qWait(10);
    const QList<ShownBox> &boxes = updater.answerer.boxes;
    if (updater.answerer.count(QStringLiteral("Firmware sent")) != 1) {
        std::fprintf(stderr, "the updater said: \"%s\" %s\n",
                     boxes.isEmpty() ? "" : qPrintable(boxes.last().title),
                     boxes.isEmpty() ? "nothing" : qPrintable(boxes.last().text));
        return run;
    }
    run.ok = simulatorRate(sim, &run.rate) && cpuLast >= 0;
    if (!run.ok)
        std::fprintf(stderr, "no summary from the simulator, or no progress seen\n");
    if (wallLast > 0) {
        run.cpuPerSecond = (cpuLast - cpuFirst) / (double(wallLast) / 1e9);
        run.threadCpuPerSecond = (threadLast - threadFirst) / (double(wallLast) / 1e9);
    }
    return run;
}

bool runReference(const QStringList &simArguments, const QByteArray &image, double *rate)
{
    SimulatorProcess sim;
    if (!sim.start(simulatorArguments(simArguments)))
        return false;
    const QString failure = runReferenceHost(sim.port, image);
    if (!failure.isEmpty()) {
        std::fprintf(stderr, "reference host: %s\n", qPrintable(failure));
        return false;
    }
    return simulatorRate(sim, rate);
}

// GETs http://127.0.0.1:`port`/metrics once a second until `stop`, as Prometheus would; how
// many scrapes had the boards counter.
int scrapeEverySecond(quint16 port, const std::atomic<bool> &stop)
{
    int scrapes = 0;
    while (!stop) {
        const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        std::string text;
        if (::connect(socket, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0) {
            const char request[] =
                "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
            const timeval limit{2, 0}; // a server that keeps the connection is no hang here
            ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
            if (::write(socket, request, sizeof request - 1) == ssize_t(sizeof request - 1)) {
                char buffer[4096];
                for (ssize_t n; (n = ::read(socket, buffer, sizeof buffer)) > 0;)
                    text.append(buffer, size_t(n));
            }
        }
        ::close(socket);
        scrapes += text.find("vantyx_boards_total{") != std::string::npos;
        for (int i = 0; i < 10 && !stop; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return scrapes;
}

// A crowd on the metrics endpoint at `port` until `stop`: 500 clients that connect and say
// nothing, and 4 that pipeline requests and read none of the answers; each one the endpoint
// closes connects again a second later, as a misbehaving scraper pool would. How many
// connections the endpoint closed.
int crowdTheEndpoint(quint16 port, const std::atomic<bool> &stop)
{
    constexpr int idleClients = 500, silentReaders = 4;
    constexpr int clients = idleClients + silentReaders;
    struct Client
    {
        int fd = -1;
        std::chrono::steady_clock::time_point again; // when a closed one connects again
    };
    std::vector<Client> crowd(clients);
    const auto connectOne = [&](int i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (i >= idleClients) { // the answers pile up at the server
            const int small = 4096;
            ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
        crowd[size_t(i)].fd = fd;
    };
    for (int i = 0; i < clients; ++i)
        connectOne(i);
    const char request[] = "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    int closed = 0;
    std::vector<pollfd> fds(clients);
    while (!stop) {
        const auto now = std::chrono::steady_clock::now();
        for (int i = 0; i < clients; ++i) {
            Client &client = crowd[size_t(i)];
            if (client.fd < 0 && now >= client.again)
                connectOne(i);
            fds[size_t(i)] = {client.fd, short(i < idleClients ? POLLIN : POLLOUT), 0};
        }
        ::poll(fds.data(), fds.size(), 50);
        for (int i = 0; i < clients; ++i) {
            Client &client = crowd[size_t(i)];
            const short events = fds[size_t(i)].revents;
            if (client.fd < 0 || events == 0)
                continue;
            bool gone = events & (POLLHUP | POLLERR);
            char byte = 0;
            if (!gone && i < idleClients) // an idle client reads nothing: a read is the close
                gone = ::recv(client.fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
            for (int sent = 0; !gone && i >= idleClients && sent < 64; ++sent) {
                const ssize_t n =
                    ::send(client.fd, request, sizeof request - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
                if (n < 0 && errno == EAGAIN)
                    break;
                gone = n < 0;
            }
            if (gone) {
                ::close(client.fd);
                client.fd = -1;
                client.again = now + std::chrono::seconds(1);
                ++closed;
            }
        }
    }
    for (const Client &client : crowd)
        if (client.fd >= 0)
            ::close(client.fd);
    return closed;
}

// vantyx-flash on `ports`, with `extra` arguments; its CPU seconds and, when asked, its peak
// resident memory in MB.
bool runFlashTool(const QStringList &ports, const QString &imagePath, double *cpuSeconds,
                  const QStringList &extra = {}, double *peakMemoryMb = nullptr)
{
    QList<QByteArray> arguments{flashToolPath().toLocal8Bit()};
    for (const QString &port : ports)
        arguments << "--port" << port.toLocal8Bit();
    for (const QString &argument : extra)
        arguments << argument.toLocal8Bit();
    arguments << imagePath.toLocal8Bit();
    std::vector<char *> argv;
    for (QByteArray &argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return false;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid)
        return false;
    *cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                  double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    if (peakMemoryMb)
        *peakMemoryMb = double(usage.ru_maxrss) / 1024; // kilobytes on Linux
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A bench of `boards` simulators flashed at once; the slowest board's image bytes per second
// and the flasher's CPU per second of the transfer.
bool runBench(int boards, const QStringList &simArguments, const QByteArray &image,
              const QString &imagePath, double *slowestRate, double *cpuPerSecond)
{
    std::vector<std::unique_ptr<SimulatorProcess>> sims;
    QStringList ports;
    for (int i = 0; i < boards; ++i) {
        sims.push_back(std::make_unique<SimulatorProcess>());
        if (!sims.back()->start(simulatorArguments(simArguments)))
            return false;
        ports << sims.back()->port;
    }
    double cpu = 0;
    if (!runFlashTool(ports, imagePath, &cpu))
        return false;
    *slowestRate = 1e12;
    double longest = 0; // the blocks of all boards take this long, side by side
    for (const auto &sim : sims) {
        double rate = 0;
        if (!simulatorRate(*sim, &rate))
            return false;
        *slowestRate = qMin(*slowestRate, rate);
        longest = qMax(longest, paddedImage(image).size() / rate);
    }
    *cpuPerSecond = cpu / longest;
    return true;
}

// `boards` boards at 115200 played by one vantyx-sim in `sim` (a process per board would
// measure the simulators' share of two cores more than the host), each for one download: their
// ports, all of them or fewer when it did not start (said).
QStringList startBoards(QProcess &sim, int boards)
{
    sim.start(simulatorPath(),
              {QStringLiteral("--pty"), QStringLiteral("--once"), QStringLiteral("--count"),
               QString::number(boards), QStringLiteral("--line-rate"), QStringLiteral("115200")});
    QStringList ports;
    QDeadlineTimer deadline(10000);
    while (ports.size() < boards && !deadline.hasExpired()) {
        if (!sim.canReadLine() && !sim.waitForReadyRead(int(deadline.remainingTime())))
            break;
        while (sim.canReadLine()) {
            const QByteArray line = sim.readLine().trimmed();
            if (line.startsWith("port: "))
                ports << QString::fromLocal8Bit(line.mid(6));
        }
    }
    if (ports.size() < boards)
        std::fprintf(stderr, "vantyx-sim gave %d of %d ports\n", int(ports.size()), boards);
    return ports;
}

// Many boards played by one vantyx-sim (a process per board would measure the simulators'
// share of two cores more than the flasher), flashed at once by vantyx-flash: on their
// pseudo-terminals, or through `stations` ser2net stations, RFC 2217 and raw TCP by turns. The
// slowest board's image bytes per second, and the flasher's CPU per second per board.
// With `crowd`, the metrics' endpoint also has crowdTheEndpoint() on it: `closed` gets how
// many connections it closed, `peakMemoryMb` vantyx-flash's peak resident memory.
struct Crowd
{
    bool on = false;
    int closed = 0;
    double peakMemoryMb = 0;
};

// vantyx-flash on `ports`, its output to nowhere (so plain, as a script sees it); its own CPU
// seconds from the kernel's account of the child.
bool runManyBoards(int boards, int stations, const QByteArray &image, const QString &imagePath,
                   const QString &folder, double *slowestRate, double *cpuPerBoard,
                   bool scraped = false, int *scrapes = nullptr, Crowd *crowd = nullptr,
                   const QStringList &extra = {})
{
    QProcess sim;
    QStringList ports = startBoards(sim, boards);
    if (ports.size() < boards)
        return false;
    std::vector<std::unique_ptr<Ser2netStation>> servers;
    if (stations > 0) {
        QStringList urls;
        const int each = (boards + stations - 1) / stations;
        for (int station = 0; station < stations; ++station) {
            const QStringList served = ports.mid(station * each, each);
            const QString kind = station % 2 ? QStringLiteral("socket") : QStringLiteral("rfc2217");
            servers.push_back(std::make_unique<Ser2netStation>());
            const QString why =
                servers.back()->start(served, QStringList(served.size(), kind), folder, &urls);
            if (!why.isEmpty()) {
                std::fprintf(stderr, "ser2net: %s\n", qPrintable(why));
                return false;
            }
        }
        ports = urls;
    }
    double cpu = 0;
    // Served and scraped every second, as the line's monitoring does.
    const quint16 metricsPort = scraped ? freeLoopbackPort() : 0;
    std::atomic<bool> done{false};
    std::future<int> scraper;
    std::future<int> crowding;
    if (scraped)
        scraper = std::async(std::launch::async, scrapeEverySecond, metricsPort, std::cref(done));
    if (crowd && crowd->on)
        crowding = std::async(std::launch::async, crowdTheEndpoint, metricsPort, std::cref(done));
    const bool flashed =
        runFlashTool(ports, imagePath, &cpu,
                     extra + (scraped ? QStringList{QStringLiteral("--metrics"),
                                                    QStringLiteral("127.0.0.1:%1").arg(metricsPort)}
                                      : QStringList()),
                     crowd ? &crowd->peakMemoryMb : nullptr);
    done = true;
    if (scraped && scrapes)
        *scrapes = scraper.get();
    if (crowding.valid())
        crowd->closed = crowding.get();
    if (!flashed || !sim.waitForFinished(30000))
        return false;
    const QList<double> rates = completedRates(sim.readAllStandardOutput());
    if (rates.size() != boards) {
        std::fprintf(stderr, "%d of %d boards completed\n", int(rates.size()), boards);
        return false;
    }
    *slowestRate = *std::min_element(rates.cbegin(), rates.cend());
    const double longest = paddedImage(image).size() / *slowestRate;
    *cpuPerBoard = cpu / longest / boards;
    return true;
}

// The reference host on `boards` boards played by one vantyx-sim at 115200, a thread a board
// (each blocked in its read, as the plainest host would be): what this machine and simulator
// let a host reach with as many boards, measured beside the rows that have them.
bool runReferenceBoards(int boards, const QByteArray &image, double *slowestRate)
{
    QProcess sim;
    const QStringList ports = startBoards(sim, boards);
    if (ports.size() < boards)
        return false;
    const QByteArray padded = paddedImage(image);
    std::vector<std::future<QString>> hosts;
    for (const QString &port : ports)
        hosts.push_back(std::async(std::launch::async, runReferenceHost, port, padded));
    bool ok = true;
    for (std::future<QString> &host : hosts)
        if (const QString failure = host.get(); !failure.isEmpty()) {
            std::fprintf(stderr, "reference host: %s\n", qPrintable(failure));
            ok = false;
        }
    if (!ok || !sim.waitForFinished(30000))
        return false;
    const QList<double> rates = completedRates(sim.readAllStandardOutput());
    if (rates.size() != boards)
        return false;
    *slowestRate = *std::min_element(rates.cbegin(), rates.cend());
    return true;
}

// The bench window in this process on `boards` boards played by one vantyx-sim at 115200: the
// slowest board's image bytes per second, the window's process CPU per second of transfer per
// board, and the longest its event loop went without a turn.
bool runBenchWindow(int boards, const QByteArray &image, const QString &imagePath,
                    const QString &folder, double *slowestRate, double *cpuPerBoard,
                    double *longestGapMs)
{
    QProcess sim;
    const QStringList ports = startBoards(sim, boards);
    if (ports.size() < boards)
        return false;
    StationOptions options;
    options.ports = ports;
    options.log = folder + QStringLiteral("/window64.jsonl");
    BenchWindow window(options);
    window.findChild<QAction *>(QStringLiteral("action_wall"))->trigger(); // the operator's view
    window.show();
    if (!window.chooseImage(imagePath))
        return false;
    // A timer every 20 ms: how late it comes is how long the loop was busy.
    QElapsedTimer sinceTick;
    double gap = 0;
    QTimer ticks;
    ticks.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticks, &QTimer::timeout, [&] {
        if (sinceTick.isValid())
            gap = qMax(gap, double(sinceTick.nsecsElapsed()) / 1e6 - 20);
        sinceTick.start();
    });
    ticks.start(20);
    const double cpuBefore = cpuSeconds(CpuOf::Process);
    if (!window.startShift())
        return false;
    QDeadlineTimer done(120000);
    // Sleeps in the dispatcher until an event.
    while (window.counters().passed() + window.counters().failed() < boards && !done.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    const double cpu = cpuSeconds(CpuOf::Process) - cpuBefore;
    ticks.stop();
    window.endShift(false);
    if (window.counters().passed() != boards || !sim.waitForFinished(30000))
        return false;
    const QList<double> rates = completedRates(sim.readAllStandardOutput());
    if (rates.size() != boards)
        return false;
    *slowestRate = *std::min_element(rates.cbegin(), rates.cend());
    *cpuPerBoard = cpu / (paddedImage(image).size() / *slowestRate) / boards;
    *longestGapMs = gap;
    return true;
}

int fail(const char *what)
{
    std::fprintf(stderr, "flashloader_bench: %s\n", what);
    return 1;
}

const QStringList measures{
    QStringLiteral("rate"),     QStringLiteral("wire"),     QStringLiteral("cpu"),
    QStringLiteral("bench"),    QStringLiteral("local"),    QStringLiteral("crowd"),
    QStringLiteral("stored"),   QStringLiteral("stations"), QStringLiteral("hex"),
    QStringLiteral("window64"), QStringLiteral("store"),
};

// One measure, its runs in this process: its figures, or nothing when a download failed (said).
std::optional<Figures> measure(const QString &name, const Options &options)
{
    auto failed = [](const char *what) {
        fail(what);
        return std::optional<Figures>();
    };
    const Sizes sizes(options.quick);
    const int runs = options.runs;
    QTemporaryDir dir;
    Figures figures;

    if (name == QLatin1String("rate")) {
        // Block rate against a device that answers at once, and the reference host's.
        const QByteArray big = patternImage(sizes.big, 1);
        const QString bigPath = writeSettledFile(dir.path(), QStringLiteral("big.bin"), big);
        QList<double> updaterRates, referenceRates, rateCpu, cliRates;
        for (int i = 0; i < runs; ++i) {
            const UpdaterRun run = runUpdater({}, big, bigPath);
            if (!run.ok)
                return failed("block rate: the updater's download failed");
            updaterRates << run.rate / 256;
            rateCpu << run.cpuPerSecond;
            double rate = 0;
            if (!runReference({}, big, &rate))
                return failed("block rate: the reference host's download failed");
            referenceRates << rate / 256;
            SimulatorProcess sim;
            double cpu = 0;
            if (!sim.start(simulatorArguments({})) || !runFlashTool({sim.port}, bigPath, &cpu) ||
                !simulatorRate(sim, &rate))
                return failed("block rate: vantyx-flash's download failed");
            cliRates << rate / 256;
        }
        figures.add(QStringLiteral("updater_blocks_per_s"), updaterRates);
        figures.add(QStringLiteral("reference_blocks_per_s"), referenceRates);
        figures.add(QStringLiteral("updater_cpu_fast"), rateCpu);
        figures.add(QStringLiteral("cli_blocks_per_s"), cliRates);
    } else if (name == QLatin1String("wire")) {
        // Wire pacing: a 115200 line carries 11520 bytes a second, 256 of every 258 image bytes.
        const QByteArray wire = patternImage(sizes.wire, 2);
        const QString wirePath = writeSettledFile(dir.path(), QStringLiteral("wire.bin"), wire);
        const QStringList paced{QStringLiteral("--line-rate"), QStringLiteral("115200")};
        QList<double> wireRates, referenceWire;
        for (int i = 0; i < runs; ++i) {
            const UpdaterRun run = runUpdater(paced, wire, wirePath);
            if (!run.ok)
                return failed("wire pacing: the download failed");
            wireRates << run.rate;
            double rate = 0;
            if (!runReference(paced, wire, &rate))
                return failed("wire pacing: the reference host's download failed");
            referenceWire << rate;
        }
        figures.add(QStringLiteral("wire_bytes_per_s"), wireRates);
        figures.add(QStringLiteral("reference_wire_bytes_per_s"), referenceWire);
    } else if (name == QLatin1String("cpu")) {
        // CPU while waiting on a device that takes 20 ms a block.
        const QByteArray slow = patternImage(sizes.slow, 3);
        const QString slowPath = writeSettledFile(dir.path(), QStringLiteral("slow.bin"), slow);
        QList<double> cpu, threadCpu;
        for (int i = 0; i < runs; ++i) {
            const UpdaterRun run =
                runUpdater({QStringLiteral("--block-delay"), QStringLiteral("20")}, slow, slowPath);
            if (!run.ok)
                return failed("CPU: the download failed");
            cpu << run.cpuPerSecond;
            threadCpu << run.threadCpuPerSecond;
            figures.notes.insert(QStringLiteral("threads_beside"), run.threads);
        }
        figures.add(QStringLiteral("cpu_per_s"), cpu);
        figures.add(QStringLiteral("window_thread_cpu_per_s"), threadCpu);
    } else if (name == QLatin1String("bench")) {
        // A bench of 16 boards at 115200, all at once, through vantyx-flash.
        const QByteArray benchImage = patternImage(sizes.bench, 4);
        const QString benchPath =
            writeSettledFile(dir.path(), QStringLiteral("bench.bin"), benchImage);
        QList<double> slowest, benchCpu;
        for (int i = 0; i < runs; ++i) {
            double rate = 0, cpuPerSecond = 0;
            if (!runBench(Sizes::boards, {QStringLiteral("--line-rate"), QStringLiteral("115200")},
                          benchImage, benchPath, &rate, &cpuPerSecond))
                return failed("bench: vantyx-flash's downloads failed");
            slowest << rate;
            benchCpu << cpuPerSecond;
        }
        figures.add(QStringLiteral("bench_slowest_bytes_per_s"), slowest);
        figures.add(QStringLiteral("bench_cpu_per_s"), benchCpu);
    } else if (name == QLatin1String("local") || name == QLatin1String("crowd") ||
               name == QLatin1String("stored") || name == QLatin1String("stations")) {
        // Many boards: 128 on this machine (the metrics' endpoint under a crowd too, or every
        // record kept in the station's SQLite and forwarded to a PostgreSQL), and 64 through
        // four ser2net stations.
        const bool crowded = name == QLatin1String("crowd");
        const bool stored = name == QLatin1String("stored");
        const bool local = name == QLatin1String("local") || crowded || stored;
        PostgresServer server;
        if (stored && PostgresServer::programs().isEmpty())
            return figures; // not measured: said in the table
        if (stored) {
            if (const QString why = server.start(); !why.isEmpty())
                return failed(qPrintable(QStringLiteral("the line's store: ") + why));
            // The station's own store in the measure's folder.
            qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath(QStringLiteral("data"))));
        }
        const int boards = local ? 128 : 64, stations = local ? 0 : 4;
        if (!local && ser2netPath().isEmpty())
            return figures; // not measured: said in the table
        const QByteArray benchImage = patternImage(sizes.bench, 4);
        const QString benchPath =
            writeSettledFile(dir.path(), QStringLiteral("bench.bin"), benchImage);
#ifdef VANTYX_FLASH_SERVES_METRICS
        const bool metrics = crowded || (local && options.metrics);
#else
        const bool metrics = false; // this build has no metrics endpoint
        if (crowded)
            return figures; // not measured: said in the table
#endif
        QList<double> slowest, cpuPerBoard, scrapes, memory, closed, reference;
        for (int i = 0; i < runs; ++i) {
            double rate = 0, cpu = 0;
            int scraped = 0;
            Crowd crowd;
            crowd.on = crowded;
            const QStringList keep =
                stored ? QStringList{QStringLiteral("--log"),
                                     dir.filePath(QStringLiteral("boards-%1.jsonl").arg(i)),
                                     QStringLiteral("--store"), server.url()}
                       : QStringList();
            if (!runManyBoards(boards, stations, benchImage, benchPath, dir.path(), &rate, &cpu,
                               metrics, &scraped, &crowd, keep))
                return failed("many boards: vantyx-flash's downloads failed");
            slowest << rate;
            cpuPerBoard << cpu;
            // The reference host on as many boards, by turns with the row's runs.
            if (local && !crowded) {
                if (!runReferenceBoards(boards, benchImage, &rate))
                    return failed("many boards: the reference host's downloads failed");
                reference << rate;
            }
            if (metrics)
                scrapes << scraped;
            memory << crowd.peakMemoryMb;
            closed << crowd.closed;
        }
        figures.add(name + QStringLiteral("_slowest_bytes_per_s"), slowest);
        figures.add(name + QStringLiteral("_cpu_per_board"), cpuPerBoard);
        figures.add(name + QStringLiteral("_peak_memory_mb"), memory);
        if (!reference.isEmpty())
            figures.add(name + QStringLiteral("_reference_bytes_per_s"), reference);
        if (crowded)
            figures.add(QStringLiteral("crowd_closed"), closed);
        else
            figures.add(QStringLiteral("scrapes"), scrapes);
    } else if (name == QLatin1String("hex")) {
        // A 1 MiB image as Intel HEX: converting it costs no more than reading the file twice.
        QList<double> convertMs, readTwiceMs, wholeMs;
        for (int i = 0; i < runs; ++i) {
            const QString hexPath =
                writeSettledFile(dir.path(), QStringLiteral("big.hex"),
                                 intelHexOf(patternImage(1024 * 1024, 7), 0x08000000));
            QElapsedTimer clock;
            clock.start();
            for (int pass = 0; pass < 2; ++pass)
                if (!readPaddedImage(hexPath, nullptr, ImageReading::rawBytes()))
                    return failed("HEX: the file cannot be read");
            readTwiceMs << double(clock.nsecsElapsed()) / 1e6;
            // The conversion alone, of the text read; then all a program does: read, convert
            // and hash the file.
            QFile file(hexPath);
            if (!file.open(QIODevice::ReadOnly))
                return failed("HEX: the file cannot be read");
            const QByteArray text = file.readAll();
            QString why;
            clock.start();
            const std::optional<imageformats::Converted> alone =
                imageformats::convert(text, imageformats::Format::IntelHex, 1 << 30, &why);
            convertMs << double(clock.nsecsElapsed()) / 1e6;
            clock.start();
            const std::optional<PaddedImage> converted =
                readPaddedImage(hexPath, nullptr, ImageReading::anyFormatUpTo(defaultLargestImage));
            wholeMs << double(clock.nsecsElapsed()) / 1e6;
            if (!alone || !converted || converted->length != 1024 * 1024)
                return failed("HEX: the file was not converted");
        }
        figures.add(QStringLiteral("hex_convert_ms"), convertMs);
        figures.add(QStringLiteral("hex_read_twice_ms"), readTwiceMs);
        figures.add(QStringLiteral("hex_whole_ms"), wholeMs);
    } else if (name == QLatin1String("window64")) {
        // The bench window on 64 boards.
        const QByteArray benchImage = patternImage(sizes.bench, 4);
        const QString benchPath =
            writeSettledFile(dir.path(), QStringLiteral("bench.bin"), benchImage);
        QList<double> slowest, cpu, gaps, reference;
        for (int i = 0; i < runs; ++i) {
            double rate = 0, cpuPerBoard = 0, gap = 0;
            if (!runBenchWindow(64, benchImage, benchPath, dir.path(), &rate, &cpuPerBoard, &gap))
                return failed("bench window: its downloads failed");
            slowest << rate;
            cpu << cpuPerBoard;
            gaps << gap;
            if (!runReferenceBoards(64, benchImage, &rate))
                return failed("bench window: the reference host's downloads failed");
            reference << rate;
        }
        figures.add(QStringLiteral("window64_slowest_bytes_per_s"), slowest);
        figures.add(QStringLiteral("window64_cpu_per_board"), cpu);
        figures.add(QStringLiteral("window64_gap_ms"), gaps);
        figures.add(QStringLiteral("window64_reference_bytes_per_s"), reference);
    } else if (name == QLatin1String("store")) {
        // A million records (twenty thousand quickly) in both stores; run once, it is long.
        QString why;
        if (!measureStores(options.quick ? 20000 : 1000000, dir.path(), &figures, &why))
            return failed(qPrintable(QStringLiteral("the stores: ") + why));
    }
    return figures;
}

// Each measure in a process of its own, once the machine is quiet; what the machine ran beside
// each goes into the figures' notes.
std::optional<Figures> fullRun(const Options &options)
{
    Figures figures;
    QStringList beside;
    for (const QString &name : measures) {
        const double busy = waitForQuietMachine(30000);
        if (busy > 0)
            std::fprintf(stderr,
                         "flashloader_bench: the machine is still busy (%.2f core) before "
                         "%s; measuring anyway\n",
                         busy, qPrintable(name));
        QStringList arguments{QStringLiteral("--only"), name, QStringLiteral("--runs"),
                              QString::number(options.runs), QStringLiteral("--figures")};
        if (options.quick)
            arguments << QStringLiteral("--quick");
        if (!options.metrics)
            arguments << QStringLiteral("--no-metrics");
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        const MachineTimes start = machineTimes();
        child.start(QCoreApplication::applicationFilePath(), arguments);
        if (!child.waitForFinished(-1) || child.exitStatus() != QProcess::NormalExit ||
            child.exitCode() != 0) {
            fail(qPrintable(QStringLiteral("the %1 measure failed").arg(name)));
            return std::nullopt;
        }
        const MachineTimes end = machineTimes();
        Figures measured = Figures::fromText(child.readAllStandardOutput());
        const double own = median(measured.values.take(QStringLiteral("own_cpu_s")));
        // A measure that gave nothing would print a table of zeros that reads as a result.
        if (measured.values.isEmpty() &&
            !(name == QLatin1String("stations") && ser2netPath().isEmpty()) &&
            !(name == QLatin1String("stored") && PostgresServer::programs().isEmpty())) {
            fail(qPrintable(QStringLiteral("the %1 measure gave no figures").arg(name)));
            return std::nullopt;
        }
        beside << name + QStringLiteral(" ") + besideOf(start, end, own).text();
        figures.merge(measured);
    }
    figures.notes.insert(QStringLiteral("beside"), beside.join(QStringLiteral("; ")));
    return figures;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    quietPlatformNotes();
    const QStringList arguments = app.arguments();
    const char usage[] =
        "usage: flashloader_bench [--quick] [--rounds N] [--runs N] [--no-metrics]\n"
        "       flashloader_bench --only rate|wire|cpu|bench|local|crowd|stored|stations|hex|"
        "window64|store [--runs N] [--quick] [--figures]\n";
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            std::fputs(usage, stdout);
            return 0;
        }
        if (argument == QLatin1String("--runs") || argument == QLatin1String("--rounds") ||
            argument == QLatin1String("--only")) {
            ++i; // its value
        } else if (argument != QLatin1String("--quick") && argument != QLatin1String("--figures") &&
                   argument != QLatin1String("--no-metrics")) {
            std::fprintf(stderr, "flashloader_bench: unknown option %s\n%s", qPrintable(argument),
                         usage);
            return 2;
        }
    }
    auto number = [&](const char *option, int fallback) {
        const qsizetype at = arguments.indexOf(QLatin1String(option));
        return at > 0 ? qMax(1, arguments.value(at + 1).toInt()) : fallback;
    };
    Options options;
    options.quick = arguments.contains(QStringLiteral("--quick"));
    options.runs = number("--runs", options.quick ? 1 : 3);
    options.metrics = !arguments.contains(QStringLiteral("--no-metrics"));
    const qsizetype only = arguments.indexOf(QStringLiteral("--only"));

    if (only > 0) {
        // One measure here: for profiling, or as a full run's part (--figures).
        const QString name = arguments.value(only + 1);
        if (!measures.contains(name))
            return fail("--only takes rate, wire, cpu, bench, local, crowd, stored, stations, hex, "
                        "window64 or store");
        std::optional<Figures> figures = measure(name, options);
        if (!figures)
            return 1;
        if (arguments.contains(QStringLiteral("--figures"))) {
            figures->add(QStringLiteral("own_cpu_s"), {ownCpuSeconds()});
            std::fputs(figures->toText().constData(), stdout);
        } else {
            printTable(*figures, options);
        }
        return 0;
    }

    const int rounds = number("--rounds", 1);
    QList<QList<SummaryFigure>> summaries;
    for (int round = 1; round <= rounds; ++round) {
        if (rounds > 1)
            std::printf("full run %d of %d\n", round, rounds);
        const std::optional<Figures> figures = fullRun(options);
        if (!figures)
            return 1;
        printTable(*figures, options);
        summaries << summaryOf(*figures);
    }
    if (rounds > 1)
        printSpread(summaries);
    return 0;
}
