// vantyx-bench: a production line's bench of boards in one window, flashed as they are plugged in.

#include "benchwindow/benchoptions.h"
#include "benchwindow/benchwindow.h"
#include "core/terminal/terminal.h"
#include "frontend/commandline.h"
#include "station/processlimits.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>

#include <cstdio>

namespace {

const WindowCommandLine commandLine{QStringLiteral("vantyx-bench"), describeBenchOptions,
                                    [](const QCommandLineParser &parser) {
                                        BenchOptions options;
                                        return readBenchOptions(parser, &options);
                                    }};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setOrganizationName(QStringLiteral("Brivox"));
    QCoreApplication::setApplicationName(QStringLiteral("vantyx-bench"));
    QCoreApplication::setApplicationVersion(QStringLiteral(FLASHLOADER_VERSION));
    if (const std::optional<int> status = commandLine.answerWithoutWindow(argc, argv))
        return *status;
    raiseOpenFileLimit();

    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("Vantyx Bench"));
    QCommandLineParser parser;
    const QString problem = commandLine.read(parser);
    if (!problem.isEmpty())
        return commandLine.sayUsageError(problem);
    parser.process(app);
    BenchOptions options;
    readBenchOptions(parser, &options); // read well a moment ago

    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(
            QStringLiteral(":/bench/hicolor/%1x%1/apps/vantyx-firmware-updater.png").arg(size));
    QApplication::setWindowIcon(icon);

    BenchWindow window(options.station);
    QString error;
    if (!window.startMetrics(&error)) {
        return terminal::complain(error, WindowCommandLine::cannotStart);
    }
    window.show();
    if (!options.station.jobProblem.isEmpty())
        window.refuseJob(options.station.jobProblem); // said, and no shift
    else if (!options.station.image.isEmpty())
        window.chooseImage(options.station.image, options.start);
    return app.exec();
}
