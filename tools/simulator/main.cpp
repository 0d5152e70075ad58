// vantyx-sim: plays a Vantyx device's Quenlark bootloader on a pseudo-terminal or a serial
// port, so the updater can be tried, measured and broken without a board.

#include "device.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QTextStream>

#include <atomic>
#include <chrono>
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

struct Options
{
    bool pty = false;
    QString port;
    QString output;
    bool once = false;
    double resendRate = 0;
    double garbageRate = 0;
    quint32 seed = 1;
    devicesim::Script script;
};

int usageError(const QCommandLineParser &parser, const QString &message)
{
    Q_UNUSED(parser);
    std::fprintf(stderr, "vantyx-sim: %s\nTry 'vantyx-sim --help' for the options.\n",
                 qPrintable(message));
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

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Plays a Vantyx device's bootloader for the Brivox Vantyx Firmware updater: answers the\n"
        "wake-up command, takes the start command, the size word and every 256-byte block,\n"
        "checks each checksum (a bad one is answered 0x28) and writes the image it received."));
    parser.addHelpOption();
    parser.addOptions({
        {QStringLiteral("pty"), QStringLiteral("Create a pseudo-terminal and print the path to "
                                               "give the updater (POSIX only).")},
        {QStringLiteral("port"), QStringLiteral("Open an existing serial port, at 115200 8N1."),
         QStringLiteral("name")},
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
        {QStringLiteral("line-rate"),
         QStringLiteral("Pace replies as a real 8N1 line at this rate would."),
         QStringLiteral("baud")},
    });

    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser, parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (!parser.positionalArguments().isEmpty())
        return usageError(parser, QStringLiteral("unexpected argument: ") +
                                      parser.positionalArguments().first());

    Options options;
    options.pty = parser.isSet(QStringLiteral("pty"));
    options.port = parser.value(QStringLiteral("port"));
    options.output = parser.value(QStringLiteral("output"));
    options.once = parser.isSet(QStringLiteral("once"));
    if (options.pty == parser.isSet(QStringLiteral("port")))
        return usageError(parser, QStringLiteral("give exactly one of --pty and --port"));
#ifndef Q_OS_UNIX
    if (options.pty)
        return usageError(parser, QStringLiteral("--pty needs a POSIX system; use --port"));
#endif

    double seed = 1, delay = 0, block = -1, rate = 0;
    if (!parseNumber(parser, QStringLiteral("resend-rate"), 0, 1, &options.resendRate))
        return usageError(parser, QStringLiteral("--resend-rate takes a number from 0 to 1"));
    if (!parseNumber(parser, QStringLiteral("garbage-rate"), 0, 1, &options.garbageRate))
        return usageError(parser, QStringLiteral("--garbage-rate takes a number from 0 to 1"));
    if (!parseNumber(parser, QStringLiteral("seed"), 0, 4294967295.0, &seed))
        return usageError(parser, QStringLiteral("--seed takes a whole number"));
    if (!parseNumber(parser, QStringLiteral("block-delay"), 0, 600000, &delay))
        return usageError(parser, QStringLiteral("--block-delay takes milliseconds, 0 or more"));
    if (!parseNumber(parser, QStringLiteral("silent-after-block"), 0, 1 << 24, &block))
        return usageError(parser, QStringLiteral("--silent-after-block takes a block number"));
    if (!parseNumber(parser, QStringLiteral("line-rate"), 50, 10000000, &rate))
        return usageError(parser, QStringLiteral("--line-rate takes a rate from 50 to 10000000"));

    devicesim::Script &script = options.script;
    script.blockDelayMs = int(delay);
    script.silentAfterStart = parser.isSet(QStringLiteral("silent-after-start"));
    script.silentAfterSize = parser.isSet(QStringLiteral("silent-after-size"));
    script.silentFromBlock = int(block);
    script.splitStartReply = parser.isSet(QStringLiteral("split-ok"));
    script.lineRate = int(rate);
    if (options.resendRate > 0 || options.garbageRate > 0) {
        // Called on the device's thread only, one block at a time.
        auto random = std::make_shared<std::mt19937>(quint32(seed));
        const double resendRate = options.resendRate;
        const double garbageRate = options.garbageRate;
        script.blockReply = [random, resendRate, garbageRate](int, int, bool ok) {
            std::uniform_real_distribution<double> chance(0, 1);
            if (!ok)
                return devicesim::resend;
            if (chance(*random) < garbageRate)
                return QByteArray(1, char(0x41 + (*random)() % 26));
            return chance(*random) < resendRate ? devicesim::resend : devicesim::ack;
        };
    }

    devicesim::Device device(script);
    QString error;
#ifdef Q_OS_UNIX
    const bool opened =
        options.pty ? device.openPty(&error) : device.openPort(options.port, &error);
#else
    const bool opened = device.openPort(options.port, &error);
#endif
    if (!opened) {
        std::fprintf(stderr, "vantyx-sim: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("port: %s\n", qPrintable(device.portName()));
    std::fflush(stdout);

    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    int reported = 0;
    int started = 0;
    while (!interrupted) {
        device.waitFor(
            [&](const devicesim::Record &record) {
                return record.downloads.size() != started ||
                       (!record.downloads.isEmpty() && record.downloads.last().complete &&
                        reported < record.downloadsCompleted);
            },
            50);
        const devicesim::Record record = device.record();
        // A download the host abandoned is reported when the next one starts.
        for (; started < record.downloads.size(); ++started)
            if (started > 0 && !record.downloads.at(started - 1).complete)
                std::printf("%s\n", qPrintable(summary(record.downloads.at(started - 1))));
        if (reported < record.downloadsCompleted && !record.downloads.isEmpty()) {
            reported = record.downloadsCompleted;
            std::printf("%s\n", qPrintable(summary(record.downloads.last())));
            std::fflush(stdout);
            if (!options.output.isEmpty()) {
                QFile file(options.output);
                if (!file.open(QIODevice::WriteOnly) ||
                    file.write(record.completedImage) != record.completedImage.size())
                    std::fprintf(stderr, "vantyx-sim: cannot write %s: %s\n",
                                 qPrintable(options.output), qPrintable(file.errorString()));
            }
            if (options.once) {
                // A device does not vanish with its last reply still on the line.
                std::this_thread::sleep_for(std::chrono::milliseconds(500));
                return 0;
            }
        }
    }
    const devicesim::Record record = device.record();
    if (!record.downloads.isEmpty() && !record.downloads.last().complete)
        std::printf("%s\n", qPrintable(summary(record.downloads.last())));
    return 0;
}
