#pragma once

#include <QString>

#include <optional>

class QCommandLineParser;

// FlashLoader's command line: --port for ports the system does not list, --help, --version,
// and Qt's own options for a window program, which QApplication takes first.
void setProgramNames();
// Describes the command line to `parser` and reads the application's arguments with it: why
// they cannot be used, or empty when they can.
QString readCommandLine(QCommandLineParser &parser);

// Where the window system may be missing (over ssh, a package's manual-page build): --help,
// --version and a usage error answered before any is asked for, with the exit status; nullopt
// when the window is to open. (commandline_unix.cpp, commandline_win.cpp)
std::optional<int> answerWithoutWindow(int argc, char **argv);
// Says a usage error where the operator sees it; returns the status for it.
int sayUsageError(const QString &error);
