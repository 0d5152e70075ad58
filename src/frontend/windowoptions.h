#pragma once

class QCommandLineParser;

// Qt's own options for a window program (-platform, -style and the like), which QApplication
// takes before the program reads its arguments: known to `parser`, hidden from its help, so
// that a window program can read its arguments before any window system is asked for. Also
// makes "-platform offscreen" one option, as QApplication reads it.
void addQtWindowOptions(QCommandLineParser &parser);
