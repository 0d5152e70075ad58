// vantyx-bench: a production line's bench of boards in one window, flashed as they are plugged in.

#include "benchwindow/benchwindow.h"
#include "engine/flash/slotfile.h"
#include "frontend/commandline.h"
#include "metrics/metricspublisher.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>

#include <cstdio>

namespace {

const char description[] =
    "Vantyx Bench: every board on the bench in one window, each flashed as it is plugged in,\n"
    "every board recorded. Choose the image (or give it here), start the shift, plug boards in.\n"
    "\n"
    "  vantyx-bench --start firmware.bin   (straight into a shift: boards already on their\n"
    "                                       ports are flashed at once)\n"
    "  vantyx-bench --slots bench.ini --metrics 9464 --start firmware.bin\n"
    "                                      (a station: named slots, monitored)\n";

const WindowCommandLine commandLine{
    QStringLiteral("vantyx-bench"),
    [](QCommandLineParser &parser) {
        parser.setApplicationDescription(QString::fromLatin1(description));
        parser.addOptions({
            {QStringLiteral("start"),
             QStringLiteral("Start the shift at once with the image given: no window to click "
                            "first.")},
            {QStringLiteral("port"),
             QStringLiteral("A port to take besides the USB serial ports the system lists (a "
                            "pseudo-terminal, rfc2217://HOST:PORT, socket://HOST:PORT); give it "
                            "once for each port. Ports on other machines are flashed by hand."),
             QStringLiteral("name")},
            {QStringLiteral("log"),
             QStringLiteral("Append each board's record to this file (JSON Lines, as "
                            "vantyx-flash --log), instead of a file a day in the user's data "
                            "folder."),
             QStringLiteral("file")},
            {QStringLiteral("slots"),
             QStringLiteral("The bench's slot file (as Name slots writes it): each slot's name "
                            "and its port, and the adapters taken. A port no slot names is "
                            "shown unassigned and flashed only by hand."),
             QStringLiteral("file")},
            {QStringLiteral("usb"),
             QStringLiteral("Take only ports of this USB adapter (hex VID:PID); give it once for "
                            "each kind. Others are shown greyed and never opened."),
             QStringLiteral("vid:pid")},
            {QStringLiteral("tag"),
             QStringLiteral("A batch, a work order or an operator: into every record."),
             QStringLiteral("text")},
            {QStringLiteral("metrics"),
             QStringLiteral("Serve the shift's metrics at http://HOST:PORT/metrics in "
                            "Prometheus' text format (HOST 127.0.0.1 unless given)."),
             QStringLiteral("[host:]port")},
            {QStringLiteral("metrics-file"),
             QStringLiteral("Write the same metrics to this file, replaced whole after each "
                            "board."),
             QStringLiteral("file")},
        });
        parser.addPositionalArgument(QStringLiteral("image"),
                                     QStringLiteral("The firmware image: raw bytes (.bin), Intel "
                                                    "HEX or S-record, found by its content."));
    },
    [](const QCommandLineParser &parser) -> QString {
        const QStringList positional = parser.positionalArguments();
        if (positional.size() > 1)
            return QStringLiteral("one image only; unexpected: ") + positional.at(1);
        if (parser.isSet(QStringLiteral("start")) && positional.isEmpty())
            return QStringLiteral("--start needs the image");
        if (parser.isSet(QStringLiteral("log")) && parser.value(QStringLiteral("log")).isEmpty())
            return QStringLiteral("--log takes a file name");
        if (parser.isSet(QStringLiteral("slots"))) {
            QString error;
            if (!slotfile::read(parser.value(QStringLiteral("slots")), &error))
                return error;
        }
        const QStringList adapters = parser.values(QStringLiteral("usb"));
        for (const QString &adapter : adapters)
            if (!slotfile::isUsbId(adapter))
                return QStringLiteral("--usb takes VID:PID in hex, as 0403:6001; not %1")
                    .arg(adapter);
        if (parser.isSet(QStringLiteral("tag")) &&
            parser.value(QStringLiteral("tag")).trimmed().isEmpty())
            return QStringLiteral("--tag takes a text");
        if (parser.isSet(QStringLiteral("metrics"))) {
            QString host, error;
            quint16 port = 0;
            if (!parseMetricsAddress(parser.value(QStringLiteral("metrics")), &host, &port, &error))
                return QStringLiteral("--metrics: ") + error;
        }
        if (parser.isSet(QStringLiteral("metrics-file")) &&
            parser.value(QStringLiteral("metrics-file")).isEmpty())
            return QStringLiteral("--metrics-file takes a file name");
        const QStringList ports = parser.values(QStringLiteral("port"));
        for (const QString &port : ports) {
            if (port.isEmpty())
                return QStringLiteral("--port takes a port name");
            if (ports.count(port) > 1)
                return QStringLiteral("port %1 named twice").arg(port);
        }
        return QString();
    }};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setOrganizationName(QStringLiteral("Brivox"));
    QCoreApplication::setApplicationName(QStringLiteral("vantyx-bench"));
    QCoreApplication::setApplicationVersion(QStringLiteral(FLASHLOADER_VERSION));
    if (const std::optional<int> status = commandLine.answerWithoutWindow(argc, argv))
        return *status;

    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("Vantyx Bench"));
    QCommandLineParser parser;
    const QString problem = commandLine.read(parser);
    if (!problem.isEmpty())
        return commandLine.sayUsageError(problem);
    parser.process(app);

    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(
            QStringLiteral(":/bench/hicolor/%1x%1/apps/vantyx-firmware-updater.png").arg(size));
    QApplication::setWindowIcon(icon);

    BenchWindow::Given given(parser.values(QStringLiteral("port")),
                             parser.value(QStringLiteral("log")));
    given.slotsFile = parser.value(QStringLiteral("slots"));
    given.tag = parser.value(QStringLiteral("tag"));
    given.metrics = {parser.value(QStringLiteral("metrics")),
                     parser.value(QStringLiteral("metrics-file"))};
    QString error;
    if (!given.slotsFile.isEmpty())
        given.station = *slotfile::read(given.slotsFile, &error); // read well a moment ago
    const QStringList adapters = parser.values(QStringLiteral("usb"));
    for (const QString &adapter : adapters)
        if (!given.station.adapters.contains(adapter.toLower()))
            given.station.adapters << adapter.toLower();
    BenchWindow window(given);
    if (!window.startMetrics(&error)) {
        std::fprintf(stderr, "vantyx-bench: %s\n", error.toLocal8Bit().constData());
        return 1;
    }
    window.show();
    const QStringList positional = parser.positionalArguments();
    if (!positional.isEmpty() && window.chooseImage(positional.first()) &&
        parser.isSet(QStringLiteral("start")))
        window.startShift();
    return app.exec();
}
