#include "app/commandline.h"
#include "app/flashloader.h"

#include <QApplication>
#include <QCommandLineParser>

int main(int argc, char *argv[])
{
    if (const std::optional<int> status = answerWithoutWindow(argc, argv))
        return *status;

    QApplication app(argc, argv); // takes Qt's own options first
    setProgramNames();
    QCommandLineParser parser;
    const QString problem = readCommandLine(parser);
    if (!problem.isEmpty())
        return sayUsageError(problem);
    parser.process(app); // --help and --version where they came with a window system

    FlashLoader window;
    const QStringList unlisted = parser.values(QStringLiteral("port"));
    if (!unlisted.isEmpty())
        window.setUnlistedPorts(unlisted);
    window.show();
    return app.exec();
}
