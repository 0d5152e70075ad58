#include "frontend/commandline.h"

#include "frontend/windowoptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>

QString WindowCommandLine::read(QCommandLineParser &parser) const
{
    addQtWindowOptions(parser);
    parser.addHelpOption();
    parser.addVersionOption();
    describe(parser);
    if (!parser.parse(QCoreApplication::arguments()))
        return parser.errorText();
    return check(parser);
}
