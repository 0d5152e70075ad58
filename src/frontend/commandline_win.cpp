#include "frontend/commandline.h"

#include <QMessageBox>

#include <cstdio>

#include <windows.h>

std::optional<int> WindowCommandLine::answerWithoutWindow(int, char **) const
{
    return std::nullopt; // the window system is always there: QApplication reads them
}

int WindowCommandLine::sayUsageError(const QString &error) const
{
    // Started from Explorer, a window program has no standard error to say it on.
    const HANDLE standardError = GetStdHandle(STD_ERROR_HANDLE);
    if (standardError == nullptr || standardError == INVALID_HANDLE_VALUE) {
        QMessageBox::warning(nullptr, program, error + QStringLiteral(" (try --help)"));
        return 2;
    }
    std::fprintf(stderr, "%s: %s (try --help)\n", qPrintable(program), qPrintable(error));
    return 2;
}
