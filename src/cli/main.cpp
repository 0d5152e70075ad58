// vantyx-flash: flashes Vantyx devices from the command line, one board or a bench of them.

#include "cli/console.h"
#include "cli/exitstatus.h"
#include "cli/interrupt.h"
#include "cli/options.h"
#include "cli/reporttext.h"
#include "cli/startup.h"
#include "core/image/imagefile.h"
#include "core/serial/portlist.h"
#include "core/serial/portname.h"
#include "core/terminal/terminal.h"
#include "engine/flash/flashrun.h"
#include "metrics/metricspublisher.h"
#include "station/processlimits.h"
#include "station/stationjob.h"
#include "station/stationrecords.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

// How long the first read waits for an image still being written, as a build or a copy writes.
constexpr int imageWaitMs = 60000;

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
    raiseOpenFileLimit();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vantyx-flash"));
    QCoreApplication::setApplicationVersion(QStringLiteral(FLASHLOADER_VERSION));

    FlashOptions options;
    QString error;
    if (!parseFlashOptions(QCoreApplication::arguments(), &options, &error)) {
        return terminal::complainOfUsage(error);
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

    // Read and checked once, whole, before any port is opened; every download shares it.
    const StationOptions &station = options.station;
    options.imageFile = systemPathOf(station.image, argc, argv);
    std::optional<PaddedImage> image = readWholeImage(
        options.imageFile, &error, station.reading, imageWaitMs, [&](const QString &why) {
            Console::complain(
                QStringLiteral("waiting for %1 to be written whole: %2").arg(station.image, why));
        });
    if (!image) {
        std::fprintf(stderr, "vantyx-flash: cannot use %s: %s\n",
                     station.image.toLocal8Bit().constData(), error.toLocal8Bit().constData());
        return exitstatus::BadImage;
    }
    // A job's image is the very file the job approves.
    const QString notTheJobs = jobImageProblem(station, ImageRecord::of(station.image, *image));
    if (!notTheJobs.isEmpty()) {
        Console::complain(notTheJobs);
        return exitstatus::BadUsage;
    }
    if (image->format != imageformats::Format::Raw) {
        // What is sent, said before the first board: from where, how much, and its hash.
        const ImageRecord record = ImageRecord::of(station.image, *image);
        std::fprintf(options.json == QStringLiteral("-") ? stderr : stdout, "image: %s\n",
                     imageLine(record).toLocal8Bit().constData());
        for (const QString &note : std::as_const(image->notes))
            std::fprintf(stderr, "vantyx-flash: %s: %s\n", station.image.toLocal8Bit().constData(),
                         note.toLocal8Bit().constData());
    }

    FlashRun::Plan plan;
    plan.ports = options.ports;
    plan.all = options.all;
    plan.watch = options.watch;
    plan.handsOff = true;
    // Without --port, --watch takes every port the system lists (the slots' among them, and
    // those of adapters the station takes).
    plan.listed = station.ports.isEmpty() ? PortWatcher::Listed::All : PortWatcher::Listed::None;
    plan.station = station.station;
    plan.tag = station.tag;
    plan.detectTimeoutMs = station.detectTimeoutMs;
    plan.log = station.log;
    plan.keepRecords = !options.json.isEmpty(); // a shift without a report keeps the tally alone
    plan.imageName = station.image;
    plan.imageFile = options.imageFile;
    plan.reading = station.reading;
    // The line's store takes what the station keeps: a file a day when no log is named.
    if (!station.lineStore.isEmpty() && station.log.isEmpty())
        plan.logFolder = BoardLog::dailyFolder();
    StationJob job;
    if (!job.begin(station, &plan, &error)) {
        Console::complain(error);
        return exitstatus::CannotStart;
    }
    FlashRun run(plan, std::make_shared<const PaddedImage>(std::move(*image)));
    // A station that keeps records keeps them in its store too, and forwards them with --store.
    StationRecords records;
    if (!plan.log.isEmpty() || !plan.logFolder.isEmpty()) {
        const QStringList files =
            plan.log.isEmpty() ? BoardLog::dailyFiles(plan.logFolder) : QStringList{plan.log};
        if (records.open(station, files, &error)) {
            records.follow(run);
        } else if (!station.lineStore.isEmpty()) { // asked to forward, it cannot
            Console::complain(QStringLiteral("cannot keep the records' store: %1").arg(error));
            return exitstatus::CannotStart;
        } else {
            Console::complain(QStringLiteral("cannot keep the records' store (%1); the log keeps "
                                             "every record")
                                  .arg(error));
        }
    }
    Console console(run, options, [&job] { return job.text(); });
    QObject::connect(&records, &StationRecords::serverChanged, [](const QString &why) {
        Console::complain(why.isEmpty()
                              ? QStringLiteral("the line's store is back; records waiting are sent")
                              : QStringLiteral("the line's store is away (%1); records wait on "
                                               "this station")
                                    .arg(why));
    });
    QObject::connect(&records, &StationRecords::storeWriteFailed, [](const QString &why) {
        Console::complain(QStringLiteral("cannot write the records' store (the log has the "
                                         "record; the store takes it at the next start): %1")
                              .arg(why));
    });
    Interrupt interrupt;
    QObject::connect(&interrupt, &Interrupt::requested, &run, &FlashRun::interrupt);
    QObject::connect(&run, &FlashRun::ended, &app, [&] {
        if (const int waiting = records.sendWaiting(); waiting > 0)
            Console::complain(QStringLiteral("%1 records wait for the line's store: sent at the "
                                             "next start, or by vantyx-records forward")
                                  .arg(waiting));
        const int status = console.finish();
        interrupt.release();
        QCoreApplication::exit(status);
    });
    std::unique_ptr<MetricsPublisher> metrics;
    if (!station.metrics.listen.isEmpty() || !station.metrics.file.isEmpty()) {
        metrics = std::make_unique<MetricsPublisher>(station.metrics);
        metrics->setJob(plan.job, [&job] { return job.remaining(); });
        if (records.forwarding())
            metrics->setUnsent([&records] { return records.unsent(); });
        metrics->follow(run);
        QObject::connect(
            metrics.get(), &MetricsPublisher::fileWriteFailed, [&](const QString &why) {
                Console::complain(QStringLiteral("cannot write the metrics file %1: %2")
                                      .arg(station.metrics.file, why));
            });
        if (!metrics->start(&error)) {
            Console::complain(error);
            return exitstatus::CannotStart;
        }
    }
    if (!run.start(&error)) {
        Console::complain(QStringLiteral("cannot open the log %1: %2").arg(station.log, error));
        return exitstatus::CannotStart;
    }
    return app.exec();
}
