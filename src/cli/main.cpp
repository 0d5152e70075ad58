// vantyx-flash: flashes Vantyx devices from the command line, one board or a bench of them.

#include "cli/console.h"
#include "cli/exitstatus.h"
#include "cli/interrupt.h"
#include "cli/options.h"
#include "cli/startup.h"
#include "core/image/firmwareimage.h"
#include "core/serial/portlist.h"
#include "core/serial/portname.h"
#include "engine/flash/flashrun.h"
#include "metrics/metricspublisher.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

void printPorts()
{
    const QList<QSerialPortInfo> ports = listedPorts();
    auto field = [](const QString &text) { return text.isEmpty() ? QStringLiteral("-") : text; };
    for (const QSerialPortInfo &info : ports) {
        const QString usb = usbId(info);
        const QString line =
            QStringList{info.portName(), field(info.description()), field(info.manufacturer()),
                        field(info.serialNumber()), field(usb)}
                .join(QLatin1Char('\t'));
        std::printf("%s\n", line.toLocal8Bit().constData());
    }
}

} // namespace

int main(int argc, char *argv[])
{
    prepareProcess();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vantyx-flash"));
    QCoreApplication::setApplicationVersion(QStringLiteral(FLASHLOADER_VERSION));

    FlashOptions options;
    QString error;
    if (!parseFlashOptions(QCoreApplication::arguments(), &options, &error)) {
        std::fprintf(stderr, "vantyx-flash: %s (try --help)\n", error.toLocal8Bit().constData());
        return exitstatus::BadUsage;
    }
    switch (options.action) {
    case FlashOptions::Action::Help:
        std::fputs(options.helpText.toLocal8Bit().constData(), stdout);
        return 0;
    case FlashOptions::Action::Version:
        std::printf("vantyx-flash %s\n", FLASHLOADER_VERSION);
        return 0;
    case FlashOptions::Action::List:
        printPorts();
        return 0;
    case FlashOptions::Action::Flash:
        break;
    }

    // Read and checked once, before any port is opened; every download shares it.
    options.imageFile = systemPathOf(options.image, argc, argv);
    std::optional<PaddedImage> image =
        readPaddedImage(options.imageFile, &error, ImageReading::AnyFormat);
    if (!image) {
        std::fprintf(stderr, "vantyx-flash: cannot use %s: %s\n",
                     options.image.toLocal8Bit().constData(), error.toLocal8Bit().constData());
        return exitstatus::BadImage;
    }
    if (image->format != imageformats::Format::Raw) {
        // What is sent, said before the first board: from where, how much, and its hash.
        const ImageRecord record = ImageRecord::of(options.image, *image);
        std::fprintf(options.json == QStringLiteral("-") ? stderr : stdout,
                     "image: %s, %s, %lld bytes from 0x%08x, sha256 %s (file sha256 %s)\n",
                     options.image.toLocal8Bit().constData(), qPrintable(record.format),
                     static_cast<long long>(record.bytes), record.base, qPrintable(record.sha256),
                     qPrintable(record.fileSha256));
        for (const QString &note : std::as_const(image->notes))
            std::fprintf(stderr, "vantyx-flash: %s: %s\n", options.image.toLocal8Bit().constData(),
                         note.toLocal8Bit().constData());
    }

    FlashRun::Plan plan;
    plan.ports = options.ports;
    plan.all = options.all;
    plan.watch = options.watch;
    // Without --port, --watch takes every port the system lists (the slots' among them, and
    // those of adapters the station takes).
    plan.listed = options.portsNamed ? PortWatcher::Listed::None : PortWatcher::Listed::All;
    plan.station = options.station;
    plan.tag = options.tag;
    plan.detectTimeoutMs = options.detectTimeoutMs;
    plan.log = options.log;
    plan.keepRecords = !options.json.isEmpty(); // a shift without a report keeps the tally alone
    plan.imageName = options.image;
    plan.imageFile = options.imageFile;
    FlashRun run(plan, std::make_shared<const PaddedImage>(std::move(*image)));
    Console console(run, options);
    Interrupt interrupt;
    QObject::connect(&interrupt, &Interrupt::requested, &run, &FlashRun::interrupt);
    QObject::connect(&run, &FlashRun::ended, &app, [&] {
        const int status = console.finish();
        interrupt.release();
        QCoreApplication::exit(status);
    });
    std::unique_ptr<MetricsPublisher> metrics;
    if (!options.metrics.listen.isEmpty() || !options.metrics.file.isEmpty()) {
        metrics = std::make_unique<MetricsPublisher>(options.metrics);
        metrics->follow(run);
        QObject::connect(
            metrics.get(), &MetricsPublisher::fileWriteFailed, [&](const QString &why) {
                Console::complain(QStringLiteral("cannot write the metrics file %1: %2")
                                      .arg(options.metrics.file, why));
            });
        if (!metrics->start(&error)) {
            Console::complain(error);
            return exitstatus::SomeFailed;
        }
    }
    if (!run.start(&error)) {
        Console::complain(QStringLiteral("cannot open the log %1: %2").arg(options.log, error));
        return exitstatus::SomeFailed;
    }
    return app.exec();
}
