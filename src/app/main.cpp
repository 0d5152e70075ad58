#include "app/flashloader.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QMessageBox>

#include <cstdio>
#include <cstring>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

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

#ifndef Q_OS_WIN
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
#endif

void setNames()
{
    QCoreApplication::setApplicationName(QStringLiteral("FlashLoader"));
    QCoreApplication::setApplicationVersion(QStringLiteral(FLASHLOADER_VERSION));
}

} // namespace

int main(int argc, char *argv[])
{
#ifndef Q_OS_WIN // Windows always has its window system
    if (asksOnlyToBeDescribed(argc, argv)) {
        QCoreApplication app(argc, argv);
        setNames();
        QCommandLineParser parser;
        describe(parser);
        // Qt's own options for a window (-platform and the like) are no error here.
        parser.parse(QCoreApplication::arguments());
        if (parser.isSet(QStringLiteral("version"))) {
            std::printf("FlashLoader %s\n", FLASHLOADER_VERSION);
            return 0;
        }
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
#endif

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
        // Started from Explorer, a window program has no standard error to say it on.
        const HANDLE standardError = GetStdHandle(STD_ERROR_HANDLE);
        if (standardError == nullptr || standardError == INVALID_HANDLE_VALUE) {
            QMessageBox::warning(nullptr, QStringLiteral("FlashLoader"),
                                 error + QStringLiteral(" (try --help)"));
            return 2;
        }
#endif
        std::fprintf(stderr, "FlashLoader: %s (try --help)\n", qPrintable(error));
        return 2;
    }
    parser.process(app); // --help and --version where they came with a window system

    FlashLoader window;
    const QStringList unlisted = parser.values(QStringLiteral("port"));
    if (!unlisted.isEmpty())
        window.setUnlistedPorts(unlisted);
    window.show();
    return app.exec();
}
