#include "app/flashloader.h"

#include <QApplication>
#include <QCommandLineParser>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv); // takes Qt's own options first
    QApplication::setApplicationName(QStringLiteral("FlashLoader"));
    QApplication::setApplicationVersion(QStringLiteral(FLASHLOADER_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Brivox Vantyx Firmware updater"));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({QStringLiteral("port"),
                      QStringLiteral("A serial port the system does not list (a pseudo-terminal, "
                                     "a network or Bluetooth serial link); give it once for each "
                                     "port. They stand first in the list, through every Rescan."),
                      QStringLiteral("name")});
    parser.process(app); // --help, --version and bad usage end here

    FlashLoader window;
    const QStringList unlisted = parser.values(QStringLiteral("port"));
    if (!unlisted.isEmpty())
        window.setUnlistedPorts(unlisted);
    window.show();
    return app.exec();
}
