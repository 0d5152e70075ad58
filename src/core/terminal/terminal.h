#pragma once

#include <QByteArray>
#include <QString>

#include <cstdio>

// The terminal a stream may draw on: vantyx-flash's live lines, vantyx-records' tables.
namespace terminal {

// Whether `stream` is a terminal (or console) at all.
bool isTerminal(std::FILE *stream);
// Whether `stream` is a terminal whose lines can be redrawn in place (on Windows, a console
// that has been switched to take the cursor moves).
bool canRedraw(std::FILE *stream);
// How many columns the terminal behind `stream` has; 80 when it does not say.
int width(std::FILE *stream);
// How many rows it has; 24 when it does not say.
int height(std::FILE *stream);
// Moves the cursor up over `lines` lines drawn before and clears from there down.
QByteArray rewind(int lines);

// A command line's complaint: one line on standard error, named by the application
// ("vantyx-job: WHY"); returns `status` for the program to exit with.
int complain(const QString &why, int status);
// The same for a command line that cannot be used, with "(try --help)"; status 2.
int complainOfUsage(const QString &why);

} // namespace terminal
