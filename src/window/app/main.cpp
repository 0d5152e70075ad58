#include "frontend/commandline.h"
#include "window/app/flashloader.h"

#include <QApplication>
#include <QCommandLineParser>

namespace {

const WindowCommandLine commandLine{
    QStringLiteral("FlashLoader"),
    [](QCommandLineParser &parser) {
        parser.setApplicationDescription(
            QStringLiteral("Brivox Vantyx Firmware updater\n\nIt sends an image file's raw "
                           "bytes. For Intel HEX and S-record files, use vantyx-flash or\n"
                           "vantyx-bench, which convert them.\n\nExit status: 0 the window was "
                           "closed, 2 bad usage, 4 no display to open the window on."));
        parser.addOption(
            {QStringLiteral("port"),
             QStringLiteral("A serial port the system does not list (a pseudo-terminal, a "
                            "network or Bluetooth serial link); give it once for each port. They "
                            "stand first in the list, through every Rescan."),
             QStringLiteral("name")});
    },
    [](const QCommandLineParser &parser) {
        return parser.positionalArguments().isEmpty()
                   ? QString()
                   : QStringLiteral("unexpected argument: ") + parser.positionalArguments().first();
    }};

void setProgramNames()
{
    QCoreApplication::setApplicationName(QStringLiteral("FlashLoader"));
    QCoreApplication::setApplicationVersion(QStringLiteral(FLASHLOADER_VERSION));
}

} // namespace

int main(int argc, char *argv[])
{
    setProgramNames();
    if (const std::optional<int> status = commandLine.answerWithoutWindow(argc, argv))
        return *status;

    QApplication app(argc, argv); // takes Qt's own options first
    QCommandLineParser parser;
    const QString problem = commandLine.read(parser);
    if (!problem.isEmpty())
        return commandLine.sayUsageError(problem);
    parser.process(app); // --help and --version where they came with a window system

    FlashLoader window;
    const QStringList unlisted = parser.values(QStringLiteral("port"));
    if (!unlisted.isEmpty())
        window.setUnlistedPorts(unlisted);
    window.show();
    return app.exec();
}
