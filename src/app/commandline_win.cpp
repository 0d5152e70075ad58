#include "app/commandline.h"

#include <QMessageBox>

#include <cstdio>

#include <windows.h>

std::optional<int> answerWithoutWindow(int, char **)
{
    return std::nullopt; // the window system is always there: QApplication reads them
}

int sayUsageError(const QString &error)
{
    // Started from Explorer, a window program has no standard error to say it on.
    const HANDLE standardError = GetStdHandle(STD_ERROR_HANDLE);
    if (standardError == nullptr || standardError == INVALID_HANDLE_VALUE) {
        QMessageBox::warning(nullptr, QStringLiteral("FlashLoader"),
                             error + QStringLiteral(" (try --help)"));
        return 2;
    }
    std::fprintf(stderr, "FlashLoader: %s (try --help)\n", qPrintable(error));
    return 2;
}
