#pragma once

#include <QByteArray>
#include <QString>

// The plainest possible host: a blocking termios stop-and-wait loop with no event loop, no
// settling wait and no detection. What it reaches is the limit the updater is measured against.
// Returns an empty string on success, else what went wrong.
QString runReferenceHost(const QString &port, const QByteArray &paddedImage);
