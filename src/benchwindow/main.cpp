// vantyx-bench: a production line's bench of boards in one window, flashed as they are plugged in.

#include "benchwindow/benchwindow.h"
#include "frontend/commandline.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>

namespace {

const char description[] =
    "Vantyx Bench: every board on the bench in one window, each flashed as it is plugged in,\n"
    "every board recorded. Choose the image (or give it here), start the shift, plug boards in.\n"
    "\n"
    "  vantyx-bench --start firmware.bin   (straight into a shift: boards already on their\n"
    "                                       ports are flashed at once)\n";

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
        });
        parser.addPositionalArgument(QStringLiteral("image"),
                                     QStringLiteral("The firmware image: raw bytes, no header."));
    },
    [](const QCommandLineParser &parser) -> QString {
        const QStringList positional = parser.positionalArguments();
        if (positional.size() > 1)
            return QStringLiteral("one image only; unexpected: ") + positional.at(1);
        if (parser.isSet(QStringLiteral("start")) && positional.isEmpty())
            return QStringLiteral("--start needs the image");
        if (parser.isSet(QStringLiteral("log")) && parser.value(QStringLiteral("log")).isEmpty())
            return QStringLiteral("--log takes a file name");
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

    BenchWindow window(
        {parser.values(QStringLiteral("port")), parser.value(QStringLiteral("log"))});
    window.show();
    const QStringList positional = parser.positionalArguments();
    if (!positional.isEmpty() && window.chooseImage(positional.first()) &&
        parser.isSet(QStringLiteral("start")))
        window.startShift();
    return app.exec();
}
