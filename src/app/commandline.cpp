#include "app/commandline.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace {

void describe(QCommandLineParser &parser)
{
    parser.setApplicationDescription(QStringLiteral("Brivox Vantyx Firmware updater"));
    // "-platform offscreen" is one option, as QApplication reads it.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({QStringLiteral("port"),
                      QStringLiteral("A serial port the system does not list (a pseudo-terminal, "
                                     "a network or Bluetooth serial link); give it once for each "
                                     "port. They stand first in the list, through every Rescan."),
                      QStringLiteral("name")});
    // Qt's own options for a window program: known here, so that the arguments can be read
    // before QApplication has taken them.
    for (const char *name : {"platform", "platformpluginpath", "platformtheme", "plugin",
                             "qmljsdebugger", "qwindowgeometry", "qwindowicon", "qwindowtitle",
                             "session", "display", "geometry", "style", "stylesheet"}) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char *name : {"reverse", "widgetcount", "nograb", "dograb"}) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
}

} // namespace

void setProgramNames()
{
    QCoreApplication::setApplicationName(QStringLiteral("FlashLoader"));
    QCoreApplication::setApplicationVersion(QStringLiteral(FLASHLOADER_VERSION));
}

QString readCommandLine(QCommandLineParser &parser)
{
    describe(parser);
    if (!parser.parse(QCoreApplication::arguments()))
        return parser.errorText();
    if (!parser.positionalArguments().isEmpty())
        return QStringLiteral("unexpected argument: ") + parser.positionalArguments().first();
    return QString();
}
