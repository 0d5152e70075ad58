#include "app/commandline.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

std::optional<int> answerWithoutWindow(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    setProgramNames();
    QCommandLineParser parser;
    const QString problem = readCommandLine(parser);
    if (!problem.isEmpty())
        return sayUsageError(problem);
    if (parser.isSet(QStringLiteral("version"))) {
        std::printf("FlashLoader %s\n", FLASHLOADER_VERSION);
        return 0;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    return std::nullopt;
}

int sayUsageError(const QString &error)
{
    std::fprintf(stderr, "FlashLoader: %s (try --help)\n", qPrintable(error));
    return 2;
}
