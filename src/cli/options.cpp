#include "cli/options.h"

#include <QCommandLineParser>

namespace {

const char description[] =
    "Flashes a raw firmware image into Vantyx devices through their Quenlark bootloader, on\n"
    "one serial port or many at once. On each port it waits for the bootloader (power or\n"
    "reset the board), then sends the image in 256-byte blocks, each checked by the device.\n"
    "\n"
    "  vantyx-flash --port COM3 firmware.bin\n"
    "  vantyx-flash --all --json report.json firmware.bin\n"
    "  vantyx-flash --watch firmware.bin      (a bench: every board plugged in; Ctrl-C ends)\n"
    "\n"
    "Exit status: 0 every port succeeded, 1 at least one failed, 2 bad usage, 3 the image\n"
    "cannot be used, 130 interrupted.\n"
    "JSON (--json): {\"image\": {\"path\", \"bytes\", \"padded\"}, \"devices\": [{\"port\", "
    "\"result\"\n"
    "(ok, failed, not-detected, port-error, cancelled), \"bytes_sent\", \"blocks\", \"resends\",\n"
    "\"seconds\", \"message\"}], \"succeeded\", \"failed\"}.";

} // namespace

bool parseFlashOptions(const QStringList &arguments, FlashOptions *options, QString *error)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(description));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        {QStringLiteral("port"),
         QStringLiteral("A serial port to flash; give it once for each port."),
         QStringLiteral("name")},
        {QStringLiteral("all"), QStringLiteral("Flash on every serial port the system lists.")},
        {QStringLiteral("watch"),
         QStringLiteral("Keep running: flash every port that appears (only the --port ones if "
                        "given), again after it was unplugged and comes back. Ctrl-C ends.")},
        {QStringLiteral("json"),
         QStringLiteral("Write a JSON report at the end to this file; - for standard output "
                        "(the other output then goes to standard error)."),
         QStringLiteral("file")},
        {QStringLiteral("detect-timeout"),
         QStringLiteral("Seconds to wait for the bootloader on a port (default 60, with --watch "
                        "for ever); 0 waits for ever."),
         QStringLiteral("seconds")},
        {QStringLiteral("list"),
         QStringLiteral("List the serial ports: name, description, manufacturer, serial number, "
                        "USB vendor:product.")},
    });
    parser.addPositionalArgument(QStringLiteral("image"),
                                 QStringLiteral("The firmware image: raw bytes, no header."));
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
    options->all = parser.isSet(QStringLiteral("all"));
    options->watch = parser.isSet(QStringLiteral("watch"));
    options->json = parser.value(QStringLiteral("json"));
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
    if (options->ports.isEmpty() && !options->all && !options->watch) {
        *error = QStringLiteral("no port: give --port NAME, --all or --watch");
        return false;
    }
    for (const QString &port : std::as_const(options->ports)) {
        if (options->ports.count(port) > 1) {
            *error = QStringLiteral("port %1 named twice").arg(port);
            return false;
        }
    }
    if (!options->ports.isEmpty() && options->all) {
        *error = QStringLiteral("--all takes every port; do not name ports with it");
        return false;
    }
    if (parser.isSet(QStringLiteral("json")) && options->json.isEmpty()) {
        *error = QStringLiteral("--json takes a file name, or - for standard output");
        return false;
    }

    double seconds = options->watch ? 0 : 60;
    if (parser.isSet(QStringLiteral("detect-timeout"))) {
        bool ok = false;
        seconds = parser.value(QStringLiteral("detect-timeout")).toDouble(&ok);
        if (!ok || seconds < 0 || seconds > 86400) {
            *error = QStringLiteral("--detect-timeout takes seconds, from 0 (for ever) to 86400");
            return false;
        }
    }
    options->detectTimeoutMs = int(seconds * 1000);
    return true;
}
