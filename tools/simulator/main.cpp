// vantyx-sim: plays a Vantyx device's Quenlark bootloader on a pseudo-terminal or a serial
// port, so the updater can be tried, measured and broken without a board.

#include "device.h"
#include "transport.h"
#include "wire.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <random>
#include <thread>

namespace {

std::atomic<bool> interrupted{false};

void onSignal(int)
{
    interrupted = true;
}

int usageError(const QString &message)
{
    std::fprintf(stderr, "vantyx-sim: %s (try --help)\n", qPrintable(message));
    return 2;
}

bool parseNumber(const QCommandLineParser &parser, const QString &name, double low, double high,
                 double *value)
{
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    *value = parser.value(name).toDouble(&ok);
    return ok && *value >= low && *value <= high;
}

// time: from the start command to the last reply; rate: image bytes per second of the blocks.
QString summary(const devicesim::Download &download)
{
    const qint64 bytes = qint64(download.blocks) * devicesim::imageBlockSize;
    const double seconds = double(download.lastReplyAt - download.startedAt) / 1e9;
    const double blockSeconds = double(download.lastReplyAt - download.firstBlockAt) / 1e9;
    const double rate = download.firstBlockAt > 0 && blockSeconds > 0 ? bytes / blockSeconds : 0;
    return QStringLiteral("download: blocks=%1 resends=%2 bytes=%3 time=%4s rate=%5B/s result=%6")
        .arg(download.blocks)
        .arg(download.resends)
        .arg(bytes)
        .arg(seconds > 0 ? seconds : 0.0, 0, 'f', 3)
        .arg(rate, 0, 'f', 0)
        .arg(download.complete ? QStringLiteral("ok") : QStringLiteral("incomplete"));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vantyx-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(FLASHLOADER_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Plays a Vantyx device's bootloader for the Brivox Vantyx Firmware updater: answers the\n"
        "wake-up command, takes the start command, the size word and every 256-byte block,\n"
        "checks each checksum (a bad one is answered 0x28) and writes the image it received."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        {QStringLiteral("pty"), QStringLiteral("Create a pseudo-terminal and print the path to "
                                               "give the updater (POSIX only).")},
        {QStringLiteral("port"), QStringLiteral("Open an existing serial port, at 115200 8N1."),
         QStringLiteral("name")},
        {QStringLiteral("count"),
         QStringLiteral("With --pty: play this many devices, each on a pseudo-terminal of its "
                        "own, in this one process (a bench of boards). --once then ends when "
                        "each has completed a download."),
         QStringLiteral("n")},
        {QStringLiteral("output"), QStringLiteral("Write each completed image to this file."),
         QStringLiteral("file")},
        {QStringLiteral("once"), QStringLiteral("Exit after the first completed download.")},
        {QStringLiteral("resend-rate"),
         QStringLiteral("Answer this share (0 to 1) of good blocks with 0x28."),
         QStringLiteral("p")},
        {QStringLiteral("garbage-rate"),
         QStringLiteral("Answer this share (0 to 1) of blocks with a garbage byte."),
         QStringLiteral("p")},
        {QStringLiteral("seed"), QStringLiteral("Seed for the rates above (default 1)."),
         QStringLiteral("n")},
        {QStringLiteral("block-delay"), QStringLiteral("Wait this long before each block reply."),
         QStringLiteral("ms")},
        {QStringLiteral("silent-after-start"), QStringLiteral("Never answer the start command.")},
        {QStringLiteral("silent-after-size"), QStringLiteral("Never answer the size word.")},
        {QStringLiteral("silent-after-block"),
         QStringLiteral("Answer blocks before block k (from 0), then fall silent."),
         QStringLiteral("k")},
        {QStringLiteral("split-ok"),
         QStringLiteral("Answer the start command with \"O\" and \"K\" in two writes.")},
        {QStringLiteral("reply-latency"),
         QStringLiteral("Hold every reply back this long, as a USB adapter's latency timer "
                        "does (16 ms by default on the most common ones)."),
         QStringLiteral("ms")},
        {QStringLiteral("line-rate"),
         QStringLiteral("Pace replies as a real 8N1 line at this rate would."),
         QStringLiteral("baud")},
        {QStringLiteral("answer-wake-up"),
         QStringLiteral("Answer the n-th wake-up command of a detection (from 1), not the first."),
         QStringLiteral("n")},
        {QStringLiteral("unplug-at-wake-up"),
         QStringLiteral("Drop the line, as an unplugged adapter, on the n-th wake-up command "
                        "(from 1) instead of answering it."),
         QStringLiteral("n")},
        {QStringLiteral("unplug-after-start"),
         QStringLiteral("Drop the line right after the start command.")},
        {QStringLiteral("unplug-after-block"),
         QStringLiteral("Drop the line once block k (from 0) has come, instead of answering it."),
         QStringLiteral("k")},
        {QStringLiteral("hold"),
         QStringLiteral("Hold the pseudo-terminal's host end open, as another program would, so "
                        "the updater cannot open it.")},
    });

    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        std::printf("vantyx-sim %s\n", FLASHLOADER_VERSION);
        return 0;
    }
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("unexpected argument: ") +
                          parser.positionalArguments().first());

    const bool pty = parser.isSet(QStringLiteral("pty"));
    const QString port = parser.value(QStringLiteral("port"));
    const QString output = parser.value(QStringLiteral("output"));
    const bool once = parser.isSet(QStringLiteral("once"));
    if (pty == parser.isSet(QStringLiteral("port")))
        return usageError(QStringLiteral("give exactly one of --pty and --port"));
    if (pty && !devicesim::ptysAvailable())
        return usageError(QStringLiteral("--pty needs a POSIX system; use --port"));

    double resendRate = 0, garbageRate = 0, seed = 1, delay = 0, block = -1, rate = 0, latency = 0;
    double count = 1;
    if (!parseNumber(parser, QStringLiteral("count"), 1, 1024, &count))
        return usageError(QStringLiteral("--count takes a number from 1 to 1024"));
    if (count > 1 &&
        (!pty || parser.isSet(QStringLiteral("hold")) || parser.isSet(QStringLiteral("output"))))
        return usageError(QStringLiteral("--count goes with --pty, without --hold or --output"));
    double unplugWakeUp = 0, unplugBlock = -1, answerWakeUp = 1;
    if (!parseNumber(parser, QStringLiteral("resend-rate"), 0, 1, &resendRate))
        return usageError(QStringLiteral("--resend-rate takes a number from 0 to 1"));
    if (!parseNumber(parser, QStringLiteral("garbage-rate"), 0, 1, &garbageRate))
        return usageError(QStringLiteral("--garbage-rate takes a number from 0 to 1"));
    if (!parseNumber(parser, QStringLiteral("seed"), 0, 4294967295.0, &seed))
        return usageError(QStringLiteral("--seed takes a whole number"));
    if (!parseNumber(parser, QStringLiteral("block-delay"), 0, 600000, &delay))
        return usageError(QStringLiteral("--block-delay takes milliseconds, 0 or more"));
    if (!parseNumber(parser, QStringLiteral("silent-after-block"), 0, 1 << 24, &block))
        return usageError(QStringLiteral("--silent-after-block takes a block number"));
    if (!parseNumber(parser, QStringLiteral("line-rate"), 50, 10000000, &rate))
        return usageError(QStringLiteral("--line-rate takes a rate from 50 to 10000000"));
    if (!parseNumber(parser, QStringLiteral("reply-latency"), 0, 600000, &latency))
        return usageError(QStringLiteral("--reply-latency takes milliseconds, 0 or more"));
    if (!parseNumber(parser, QStringLiteral("answer-wake-up"), 1, 1 << 24, &answerWakeUp))
        return usageError(QStringLiteral("--answer-wake-up takes a number from 1"));
    if (!parseNumber(parser, QStringLiteral("unplug-at-wake-up"), 1, 1 << 24, &unplugWakeUp))
        return usageError(QStringLiteral("--unplug-at-wake-up takes a number from 1"));
    if (!parseNumber(parser, QStringLiteral("unplug-after-block"), 0, 1 << 24, &unplugBlock))
        return usageError(QStringLiteral("--unplug-after-block takes a block number"));
    const bool hold = parser.isSet(QStringLiteral("hold"));
    if (hold && !pty)
        return usageError(QStringLiteral("--hold goes with --pty"));

    devicesim::Script script;
    script.blockDelayMs = int(delay);
    script.silentAfterStart = parser.isSet(QStringLiteral("silent-after-start"));
    script.silentAfterSize = parser.isSet(QStringLiteral("silent-after-size"));
    script.silentFromBlock = int(block);
    script.splitStartReply = parser.isSet(QStringLiteral("split-ok"));
    script.lineRate = int(rate);
    script.replyLatencyMs = int(latency);
    script.unplugAtWakeUp = int(unplugWakeUp);
    script.answerWakeUpNumber = int(answerWakeUp);
    script.unplugAfterStart = parser.isSet(QStringLiteral("unplug-after-start"));
    script.unplugAfterBlock = int(unplugBlock);
    std::vector<std::unique_ptr<devicesim::Device>> devices;
    std::mutex mutex;
    std::condition_variable changed;
    int completed = 0; // devices that completed a download, for --once
    for (int i = 0; i < int(count); ++i) {
        devicesim::Script own = script;
        if (resendRate > 0 || garbageRate > 0) {
            // Called on that device's thread only, one block at a time: a generator each.
            auto random = std::make_shared<std::mt19937>(quint32(seed) + quint32(i));
            own.blockReply = [random, resendRate, garbageRate](int, int, bool ok) {
                std::uniform_real_distribution<double> chance(0, 1);
                if (!ok)
                    return devicesim::resend;
                if (chance(*random) < garbageRate)
                    return QByteArray(1, char(0x41 + (*random)() % 26));
                return chance(*random) < resendRate ? devicesim::resend : devicesim::ack;
            };
        }
        devices.push_back(std::make_unique<devicesim::Device>(own));
        bool counted = false;
        devices.back()->onDownloadEnded(
            [&, counted](const devicesim::Download &download, const QByteArray &image) mutable {
                std::lock_guard<std::mutex> lock(mutex);
                std::printf("%s\n", qPrintable(summary(download)));
                std::fflush(stdout);
                if (!download.complete)
                    return;
                if (!output.isEmpty()) {
                    QFile file(output);
                    if (!file.open(QIODevice::WriteOnly) || file.write(image) != image.size())
                        std::fprintf(stderr, "vantyx-sim: cannot write %s: %s\n",
                                     qPrintable(output), qPrintable(file.errorString()));
                }
                if (once && !counted) {
                    counted = true;
                    ++completed;
                    changed.notify_all();
                }
            });
    }

    for (const auto &device : devices) {
        QString error;
        const bool opened = pty ? device->openPty(&error) : device->openPort(port, &error);
        if (!opened || (hold && !device->holdHostEnd(&error))) {
            std::fprintf(stderr, "vantyx-sim: %s\n", qPrintable(error));
            return 1;
        }
        std::printf("port: %s\n", qPrintable(device->portName()));
    }
    std::fflush(stdout);

    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    // A signal cannot notify, so the wait looks at the flag a few times a second. An unplugged
    // device is gone for good: the tool ends when every one is.
    const auto done = [&] { return completed == int(devices.size()); };
    for (bool unplugged = false; !unplugged;) {
        {
            std::unique_lock<std::mutex> lock(mutex);
            if (changed.wait_for(lock, std::chrono::milliseconds(100),
                                 [&] { return done() || interrupted; }))
                break;
        }
        unplugged = std::all_of(devices.cbegin(), devices.cend(),
                                [](const auto &device) { return device->isUnplugged(); });
        if (unplugged)
            std::printf("line: unplugged\n");
    }
    bool finished = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        finished = done();
    }
    if (finished) // a device does not vanish with its last reply still on the line
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    for (const auto &device : devices)
        device->stop();
    return 0;
}
