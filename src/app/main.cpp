#include "app/flashloader.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QMessageBox>

#include <cstdio>
#include <cstring>

namespace {

void describe(QCommandLineParser &parser)
{
    parser.setApplicationDescription(QStringLiteral("Brivox Vantyx Firmware updater"));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({QStringLiteral("port"),
                      QStringLiteral("A serial port the system does not list (a pseudo-terminal, "
                                     "a network or Bluetooth serial link); give it once for each "
                                     "port. They stand first in the list, through every Rescan."),
                      QStringLiteral("name")});
}

// --help and --version are answered before any window system is asked for: they work on a
// machine without a display, as from a terminal over ssh or a package's manual-page build.
bool asksOnlyToBeDescribed(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        const char *argument = argv[i];
        if (std::strcmp(argument, "--") == 0)
            return false;
        for (const char *option : {"-h", "--help", "-?", "--help-all", "-v", "--version"})
            if (std::strcmp(argument, option) == 0)
                return true;
    }
    return false;
}

void setNames()
{
    QCoreApplication::setApplicationName(QStringLiteral("FlashLoader"));
    QCoreApplication::setApplicationVersion(QStringLiteral(FLASHLOADER_VERSION));
}

} // namespace

int main(int argc, char *argv[])
{
    if (asksOnlyToBeDescribed(argc, argv)) {
        QCoreApplication app(argc, argv);
        setNames();
        QCommandLineParser parser;
        describe(parser);
#ifdef Q_OS_WIN
        parser.process(app); // a window program's message box; it ends the program
#else
        // Qt's own options for a window (-platform and the like) are no error here.
        parser.parse(QCoreApplication::arguments());
        if (parser.isSet(QStringLiteral("version"))) {
            std::printf("FlashLoader %s\n", FLASHLOADER_VERSION);
            return 0;
        }
        std::fputs(qPrintable(parser.helpText()), stdout);
#endif
        return 0;
    }

    QApplication app(argc, argv); // takes Qt's own options first
    setNames();
    QCommandLineParser parser;
    describe(parser);
    QString error;
    if (!parser.parse(QCoreApplication::arguments()))
        error = parser.errorText();
    else if (!parser.positionalArguments().isEmpty())
        error = QStringLiteral("unexpected argument: ") + parser.positionalArguments().first();
    if (!error.isEmpty()) {
#ifdef Q_OS_WIN
        // A window program has no console to say it in.
        QMessageBox::warning(nullptr, QStringLiteral("FlashLoader"),
                             error + QStringLiteral(" (try --help)"));
#else
        std::fprintf(stderr, "FlashLoader: %s (try --help)\n", qPrintable(error));
#endif
        return 2;
    }

    FlashLoader window;
    const QStringList unlisted = parser.values(QStringLiteral("port"));
    if (!unlisted.isEmpty())
        window.setUnlistedPorts(unlisted);
    window.show();
    return app.exec();
}
