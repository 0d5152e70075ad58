#pragma once

#include "flash/flashjob.h"

#include <QByteArray>
#include <QList>
#include <QString>

// How vantyx-flash tells what happened on each port: live lines, plain lines, the summary and
// the JSON document.

// One finished port, as the summary and the JSON document give it.
struct BoardReport
{
    QString port;
    FlashJob::Result result = FlashJob::Result::Pending;
    qint64 bytesSent = 0;
    int blocks = 0;
    int resends = 0;
    double seconds = 0;
    QString message;

    static BoardReport of(const FlashJob &job);
};

// ok, failed, not-detected, port-error, cancelled: as the lines and the report say them.
QString resultName(FlashJob::Result result);
QString phaseName(FlashJob::Phase phase);
// port, phase, a bar, percent, bytes per second, time left and resends, padded to columns.
QString liveLine(const FlashJob &job, int portWidth);
// The line for a port that has just finished.
QString finishedLine(const BoardReport &board);
QString summaryLine(const QList<BoardReport> &boards);
QByteArray jsonReport(const QString &imagePath, qint64 bytes, qint64 padded,
                      const QList<BoardReport> &boards);
// The report's layout in one paragraph, for --help: from the same names jsonReport() uses.
QString jsonLayout();
