#pragma once

#include "records/boardrecord.h"

#include <QByteArray>
#include <QList>
#include <QString>

// vantyx-flash's JSON report at the end of a run (--json).

QByteArray jsonReport(const ImageRecord &image, const QList<BoardRecord> &boards);
// Writes the report to `path` ("-" for standard output), replacing a file whole or not at all;
// a device or a pipe (no file to replace) is written straight. Empty when it all went out,
// else why not.
QString writeReport(const QString &path, const QByteArray &json);
// The report's layout in one paragraph, for --help: from the names the records use.
QString jsonLayout();
