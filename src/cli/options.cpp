#include "cli/options.h"

#include "cli/exitstatus.h"
#include "cli/report.h"
#include "core/files/filenames.h"
#include "core/serial/remoteport.h"

#include <QCommandLineParser>

namespace {

// The system's own kind of port name first.
#ifdef Q_OS_WIN
#define FLASHLOADER_EXAMPLE_PORT "COM3"
#else
#define FLASHLOADER_EXAMPLE_PORT "/dev/ttyUSB0"
#endif

const char description[] =
    "Flashes a firmware image into Vantyx devices through their serial bootloader, on\n"
    "one serial port or many at once. On each port it waits for the bootloader (power or\n"
    "reset the board), then sends the image in 256-byte blocks, each checked by the device.\n"
    "\n"
    "  vantyx-flash --port " FLASHLOADER_EXAMPLE_PORT " firmware.bin\n"
    "  vantyx-flash --all --json report.json firmware.bin\n"
    "  vantyx-flash --watch firmware.bin      (a bench: every board plugged in; Ctrl-C ends)\n"
    "  vantyx-flash --watch --slots bench.ini --log shift.jsonl --metrics 9464 firmware.bin\n"
    "                                         (a station: named slots, monitored)\n";

// Breaks `text` at spaces into lines of at most `width` characters, as the rest of --help.
QString wrapped(const QString &text, int width = 90)
{
    QString out;
    qsizetype lineStart = 0;
    const QStringList words = text.split(QLatin1Char(' '));
    for (const QString &word : words) {
        if (!out.isEmpty() && out.size() - lineStart + 1 + word.size() > width) {
            out += QLatin1Char('\n');
            lineStart = out.size();
        } else if (!out.isEmpty()) {
            out += QLatin1Char(' ');
        }
        out += word;
    }
    return out;
}

} // namespace

bool parseFlashOptions(const QStringList &arguments, FlashOptions *options, QString *error)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(description) + QLatin1Char('\n') +
                                     exitstatus::described() + QLatin1Char('\n') +
                                     wrapped(jsonLayout()));
    parser.addHelpOption();
    parser.addVersionOption();
    addStationOptions(parser, StationProgram::CommandLine);
    parser.addOptions({
        {QStringLiteral("all"), QStringLiteral("Flash on every serial port the system lists.")},
        {QStringLiteral("watch"),
         QStringLiteral("Keep running: flash every port that appears (only the --port ones if "
                        "given), again after it was unplugged and comes back. Ctrl-C ends. "
                        "Local ports only: a network port always answers, so a new board "
                        "cannot be seen there.")},
        {QStringLiteral("json"),
         QStringLiteral("Write a JSON report at the end to this file; - for standard output "
                        "(the other output then goes to standard error)."),
         QStringLiteral("file")},
        {QStringLiteral("list"),
         QStringLiteral("List the serial ports: name, description, manufacturer, serial number, "
                        "USB vendor:product.")},
    });
    if (!parser.parse(arguments)) {
        *error = parser.errorText();
        return false;
    }
    options->helpText = parser.helpText();
    if (parser.isSet(QStringLiteral("help"))) {
        options->action = FlashOptions::Action::Help;
        return true;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        options->action = FlashOptions::Action::Version;
        return true;
    }
    if (parser.isSet(QStringLiteral("list"))) {
        options->action = FlashOptions::Action::List;
        return true;
    }

    options->json = parser.value(QStringLiteral("json"));
    if (parser.isSet(QStringLiteral("json")) && options->json.isEmpty()) {
        *error = QStringLiteral("--json takes a file name, or - for standard output");
        return false;
    }
    QList<std::pair<QString, QString>> outputs;
    if (!options->json.isEmpty() && options->json != QStringLiteral("-")) {
        // Opening a pipe no program reads waits for ever; standard output is -.
        if (files::kindOf(options->json) == files::Kind::Pipe) {
            *error = QStringLiteral("--json: %1 is a pipe, not a file (for standard output, "
                                    "give -)")
                         .arg(options->json);
            return false;
        }
        *error = files::writeTargetProblem(QStringLiteral("--json"), options->json);
        if (!error->isEmpty())
            return false;
        outputs.append({QStringLiteral("--json"), options->json});
    }
    if (!readStationOptions(parser, &options->station, error, outputs))
        return false;
    if (options->station.image.isEmpty()) {
        *error = QStringLiteral("no image given");
        return false;
    }

    options->all = parser.isSet(QStringLiteral("all"));
    options->watch = parser.isSet(QStringLiteral("watch"));
    options->ports = options->station.ports;
    // The slots are the ports, unless some are named.
    if (options->ports.isEmpty())
        options->ports = options->station.station.slotPorts();
    if (options->ports.isEmpty() && !options->all && !options->watch) {
        *error = QStringLiteral("no port: give --port NAME, --all or --watch");
        return false;
    }
    if (!options->station.ports.isEmpty() && options->all) {
        *error = QStringLiteral("--all takes every port; do not name ports with it");
        return false;
    }
    if (options->watch)
        for (const QString &port : std::as_const(options->station.ports))
            if (RemotePort::isRemote(port)) {
                *error = QStringLiteral("--watch takes local ports only: a network port always "
                                        "answers, so a new board cannot be seen on %1")
                             .arg(port);
                return false;
            }
    return true;
}
