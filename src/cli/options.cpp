#include "cli/options.h"

#include "cli/exitstatus.h"
#include "cli/report.h"
#include "core/serial/portname.h"
#include "core/serial/remoteport.h"
#include "engine/flash/slotfile.h"
#include "engine/link/portlinks.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QHash>

#include <cmath>

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

std::filesystem::path fsPath(const QString &path)
{
    return std::filesystem::path(path.toStdU16String());
}

// Whether two names are one file: by its identity (a hard link, a symbolic link), or, for one
// not made yet, by the path either name comes to.
bool sameFile(const QString &a, const QString &b)
{
    std::error_code error;
    if (std::filesystem::equivalent(fsPath(a), fsPath(b), error))
        return true;
    const std::filesystem::path first = std::filesystem::weakly_canonical(fsPath(a), error);
    if (error)
        return false;
    const std::filesystem::path second = std::filesystem::weakly_canonical(fsPath(b), error);
    return !error && first == second;
}

// Why the report cannot go to `path`, found before any port is opened; empty when it can.
QString reportTargetProblem(const QString &option, const QString &path, const QString &image)
{
    const QFileInfo target(path);
    if (target.isDir())
        return QStringLiteral("%1: %2 is a folder").arg(option, path);
    std::error_code error;
    const std::filesystem::file_type type = std::filesystem::status(fsPath(path), error).type();
    // Opening a pipe no program reads waits for ever, and no signal would end that wait.
    if (type == std::filesystem::file_type::fifo || type == std::filesystem::file_type::socket)
        return QStringLiteral("%1: %2 is a pipe, not a file (for standard output, give -)")
            .arg(option, path);
    if (sameFile(path, image))
        return QStringLiteral("%1 would overwrite the image %2").arg(option, image);
    const QFileInfo folder(target.absolutePath());
    if (!target.exists() && !folder.isDir())
        return QStringLiteral("%1: no folder %2").arg(option, folder.filePath());
    if (!(target.exists() ? target : folder).isWritable())
        return QStringLiteral("%1: %2 cannot be written").arg(option, path);
    return {};
}

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
    parser.addOptions({
        {QStringLiteral("port"),
         QStringLiteral("A serial port to flash; give it once for each port. A port on another "
                        "machine, served by ser2net or the like: rfc2217://HOST:PORT (telnet "
                        "with the COM-PORT-OPTION) or socket://HOST:PORT (raw TCP, the line set "
                        "by the server)."),
         QStringLiteral("name")},
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
        {QStringLiteral("log"),
         QStringLiteral("Append a line of JSON to this file as each board finishes, on the disk "
                        "before the next starts: when and where, the image's SHA-256, the "
                        "result. For a shift of --watch."),
         QStringLiteral("file")},
        {QStringLiteral("detect-timeout"),
         QStringLiteral("Seconds to wait for the bootloader on a port (default 60, with --watch "
                        "for ever); 0 waits for ever."),
         QStringLiteral("seconds")},
        {QStringLiteral("slots"),
         QStringLiteral("The bench's slot file: each slot's name and its port (on Linux its "
                        "/dev/serial/by-path name), and the adapters it takes. Its ports are "
                        "flashed as --port ones; with --all or --watch, a listed port no slot "
                        "names is said unassigned and not flashed."),
         QStringLiteral("file")},
        {QStringLiteral("usb"),
         QStringLiteral("Take only listed ports of this USB adapter (hex VID:PID, as --list "
                        "says); give it once for each kind. Other listed ports are never "
                        "opened."),
         QStringLiteral("vid:pid")},
        {QStringLiteral("tag"),
         QStringLiteral("A batch, a work order or an operator: into every record and the "
                        "report."),
         QStringLiteral("text")},
        {QStringLiteral("metrics"),
         QStringLiteral("Serve the run's metrics at http://HOST:PORT/metrics in Prometheus' "
                        "text format (HOST 127.0.0.1 unless given)."),
         QStringLiteral("[host:]port")},
        {QStringLiteral("metrics-file"),
         QStringLiteral("Write the same metrics to this file, replaced whole after each board "
                        "(for node_exporter's textfile collector)."),
         QStringLiteral("file")},
        {QStringLiteral("list"),
         QStringLiteral("List the serial ports: name, description, manufacturer, serial number, "
                        "USB vendor:product.")},
    });
    parser.addPositionalArgument(QStringLiteral("image"),
                                 QStringLiteral("The firmware image: raw bytes (.bin), Intel HEX "
                                                "or S-record, found by its content."));
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

    options->ports = parser.values(QStringLiteral("port"));
    options->portsNamed = !options->ports.isEmpty();
    options->all = parser.isSet(QStringLiteral("all"));
    options->watch = parser.isSet(QStringLiteral("watch"));
    options->json = parser.value(QStringLiteral("json"));
    double seconds = options->watch ? 0 : 60;
    if (parser.isSet(QStringLiteral("detect-timeout"))) {
        bool ok = false;
        seconds = parser.value(QStringLiteral("detect-timeout")).toDouble(&ok);
        // Not a number, infinite, or so small that it would round to 0 (for ever).
        if (!ok || !std::isfinite(seconds) || seconds < 0 || seconds > 86400 ||
            (seconds > 0 && std::lround(seconds * 1000) == 0)) {
            *error = QStringLiteral("--detect-timeout takes seconds, from 0 (for ever) to 86400");
            return false;
        }
    }
    options->detectTimeoutMs = int(std::lround(seconds * 1000));
    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty()) {
        *error = QStringLiteral("no image given");
        return false;
    }
    if (positional.size() > 1) {
        *error = QStringLiteral("one image only; unexpected: ") + positional.at(1);
        return false;
    }
    options->image = positional.first();
    if (parser.isSet(QStringLiteral("slots"))) {
        options->slotsFile = parser.value(QStringLiteral("slots"));
        std::optional<Station> station = slotfile::read(options->slotsFile, error);
        if (!station)
            return false;
        if (!station->hasSlots()) {
            *error = QStringLiteral("%1 names no slots").arg(options->slotsFile);
            return false;
        }
        options->station = *station;
        // The slots are the ports, unless some are named.
        if (options->ports.isEmpty())
            options->ports = options->station.slotPorts();
    }
    const QStringList adapters = parser.values(QStringLiteral("usb"));
    for (const QString &adapter : adapters) {
        if (!slotfile::isUsbId(adapter)) {
            *error =
                QStringLiteral("--usb takes VID:PID in hex, as 0403:6001; not %1").arg(adapter);
            return false;
        }
        if (!options->station.adapters.contains(adapter.toLower()))
            options->station.adapters << adapter.toLower();
    }
    options->tag = parser.value(QStringLiteral("tag"));
    if (parser.isSet(QStringLiteral("tag")) && options->tag.trimmed().isEmpty()) {
        *error = QStringLiteral("--tag takes a text");
        return false;
    }
    options->metrics.listen = parser.value(QStringLiteral("metrics"));
    if (parser.isSet(QStringLiteral("metrics"))) {
        QString host;
        quint16 port = 0;
        if (!parseMetricsAddress(options->metrics.listen, &host, &port, error)) {
            *error = QStringLiteral("--metrics: ") + *error;
            return false;
        }
    }
    options->metrics.file = parser.value(QStringLiteral("metrics-file"));
    if (parser.isSet(QStringLiteral("metrics-file"))) {
        *error = options->metrics.file.isEmpty()
                     ? QStringLiteral("--metrics-file takes a file name")
                     : reportTargetProblem(QStringLiteral("--metrics-file"), options->metrics.file,
                                           options->image);
        if (!error->isEmpty())
            return false;
        for (const QString &other :
             {parser.value(QStringLiteral("log")), parser.value(QStringLiteral("json"))})
            if (!other.isEmpty() && sameFile(options->metrics.file, other)) {
                *error = QStringLiteral("--metrics-file names the file of --log or --json");
                return false;
            }
    }
    if (options->ports.isEmpty() && !options->all && !options->watch) {
        *error = QStringLiteral("no port: give --port NAME, --all or --watch");
        return false;
    }
    QHash<QString, QString> seen; // one job per port: two would fight over it
    for (const QString &port : std::as_const(options->ports)) {
        if (port.isEmpty()) {
            *error = QStringLiteral("--port takes a port name");
            return false;
        }
        if (RemotePort::isRemote(port)) {
            QString why;
            if (!RemotePort::parse(port, &why)) {
                *error = QStringLiteral("--port %1: %2").arg(port, why);
                return false;
            }
            if (!reachesRemotePorts()) {
                *error = QStringLiteral("--port %1: this build has no network ports").arg(port);
                return false;
            }
            if (options->watch) {
                *error = QStringLiteral("--watch takes local ports only: a network port always "
                                        "answers, so a new board cannot be seen on %1")
                             .arg(port);
                return false;
            }
        }
        // Named twice, or two names of one port.
        const QString other = seen.value(portKey(port));
        if (!other.isEmpty()) {
            *error = other == port ? QStringLiteral("port %1 named twice").arg(port)
                                   : QStringLiteral("%1 and %2 are the same port").arg(other, port);
            return false;
        }
        seen.insert(portKey(port), port);
    }
    if (parser.isSet(QStringLiteral("port")) && options->all) {
        *error = QStringLiteral("--all takes every port; do not name ports with it");
        return false;
    }
    if (parser.isSet(QStringLiteral("json")) && options->json.isEmpty()) {
        *error = QStringLiteral("--json takes a file name, or - for standard output");
        return false;
    }
    if (!options->json.isEmpty() && options->json != QStringLiteral("-")) {
        *error = reportTargetProblem(QStringLiteral("--json"), options->json, options->image);
        if (!error->isEmpty())
            return false;
    }
    options->log = parser.value(QStringLiteral("log"));
    if (parser.isSet(QStringLiteral("log"))) {
        *error = options->log.isEmpty()
                     ? QStringLiteral("--log takes a file name")
                     : reportTargetProblem(QStringLiteral("--log"), options->log, options->image);
        if (!error->isEmpty())
            return false;
        if (!options->json.isEmpty() && options->json != QStringLiteral("-") &&
            sameFile(options->log, options->json)) {
            *error = QStringLiteral("--log and --json name the same file");
            return false;
        }
    }

    return true;
}
