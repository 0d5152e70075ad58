#include "frontend/commandline.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

std::optional<int> WindowCommandLine::answerWithoutWindow(int argc, char **argv) const
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QString problem = read(parser);
    if (!problem.isEmpty())
        return sayUsageError(problem);
    if (parser.isSet(QStringLiteral("version"))) {
        std::printf("%s %s\n", qPrintable(QCoreApplication::applicationName()),
                    qPrintable(QCoreApplication::applicationVersion()));
        return 0;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    // Without a platform named and without a display, Qt would abort with a core dump.
    const bool platformNamed =
        parser.isSet(QStringLiteral("platform")) || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
    if (!platformNamed && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        std::fprintf(stderr,
                     "%s: no display to open the window on (neither DISPLAY nor "
                     "WAYLAND_DISPLAY is set)\n",
                     qPrintable(program));
        return cannotStart;
    }
    return std::nullopt;
}

int WindowCommandLine::sayUsageError(const QString &error) const
{
    std::fprintf(stderr, "%s: %s (try --help)\n", qPrintable(program), qPrintable(error));
    return 2;
}
