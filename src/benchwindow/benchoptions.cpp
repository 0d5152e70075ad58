#include "benchwindow/benchoptions.h"

#include <QCommandLineParser>

namespace {

const char description[] =
    "Vantyx Bench: every board on the bench in one window, each flashed as it is plugged in,\n"
    "every board recorded. Choose the image (or give it here), start the shift, plug boards in.\n"
    "\n"
    "  vantyx-bench --start firmware.bin   (straight into a shift: boards already on their\n"
    "                                       ports are flashed at once)\n"
    "  vantyx-bench --slots bench.ini --metrics 9464 --start firmware.bin\n"
    "                                      (a station: named slots, monitored)\n"
    "\n"
    "Exit status: 0 the window was closed, 2 bad usage, 4 the window or the station cannot\n"
    "start (no display; the metrics' port or file cannot be opened).\n";

} // namespace

void describeBenchOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(QString::fromLatin1(description));
    parser.addOption({QStringLiteral("start"),
                      QStringLiteral("Start the shift at once with the image given: no window to "
                                     "click first.")});
    addStationOptions(parser, StationProgram::Bench);
}

QString readBenchOptions(const QCommandLineParser &parser, BenchOptions *options)
{
    QString error;
    // A refused job is said in the window, which then runs no shift.
    if (!readStationOptions(parser, &options->station, &error, {}, JobRefusal::Keep))
        return error;
    options->start = parser.isSet(QStringLiteral("start"));
    if (options->start && options->station.image.isEmpty() && options->station.jobProblem.isEmpty())
        return QStringLiteral("--start needs the image");
    return QString();
}
