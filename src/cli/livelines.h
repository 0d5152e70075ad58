#pragma once

#include "engine/flash/flashjob.h"

#include <QList>
#include <QString>
#include <QStringList>

// vantyx-flash's live lines: one per running port, redrawn in place on a terminal, fitted to
// its width and its rows.

// What a live line shows of a job.
struct LiveFigures
{
    QString port;
    FlashJob::Phase phase = FlashJob::Phase::Opening;
    qint64 sent = 0;
    qint64 total = 0;
    double transferSeconds = 0;
    int resends = 0;

    // `label` is what the job's board is shown by (boardLabel()).
    static LiveFigures of(const FlashJob &job, const QString &label);
};

// Port, phase, a bar, percent, bytes per second, time left and resends, in columns; as the
// width shrinks the bar narrows, then the least useful columns go (resends, bar, rate, time
// left, phase), never the port and its percent.
QString liveLine(const LiveFigures &figures, int portWidth, int width);
// The lines to draw for the running ports on a terminal of `width` columns and `rows` rows:
// never more than rows - 1, the ports that do not fit folded into one "and N more" line.
QStringList liveScreen(const QList<LiveFigures> &jobs, int portWidth, int width, int rows);
// How many rows lines of these lengths take on a terminal `width` wide, as it wraps them.
int rowsTaken(const QList<int> &lengths, int width);
