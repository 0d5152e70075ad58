#pragma once

#include <QString>

#include <functional>
#include <optional>

class QCommandLineParser;

// A window program's command line: its options, Qt's own for a window program, --help and
// --version, and how a usage error is said, alike in every window program.
struct WindowCommandLine
{
    QString program; // as the usage error names it
    std::function<void(QCommandLineParser &)> describe;
    // Why the arguments, parsed, cannot be used; empty when they can.
    std::function<QString(const QCommandLineParser &)> check;

    // Describes the command line to `parser` and reads the application's arguments with it:
    // why they cannot be used, or empty when they can.
    QString read(QCommandLineParser &parser) const;
    // Where the window system may be missing (over ssh, a package's manual-page build): --help,
    // --version and a usage error answered before any is asked for, and a missing display said
    // in a line rather than by Qt's abort, with the exit status; nullopt when the window is to
    // open. (commandline_unix.cpp, commandline_win.cpp)
    std::optional<int> answerWithoutWindow(int argc, char **argv) const;
    // Says a usage error where the operator sees it; returns the status for it.
    int sayUsageError(const QString &error) const;

    // The exit status of a window program that cannot start: no display to open on, or what
    // it serves or writes cannot be opened.
    static constexpr int cannotStart = 4;
};
