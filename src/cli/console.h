#pragma once

#include "engine/flash/flashjob.h"
#include "records/boardrecord.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <cstdio>
#include <functional>

class FlashRun;
struct FlashOptions;

// What vantyx-flash shows of a run: on a terminal a live line per running port, redrawn in
// place; otherwise a plain line per phase and per tenth; a line per finished board, the
// reasons on standard error, and the summary and the report at the end.
class Console : public QObject
{
    Q_OBJECT

public:
    // `job` says the shift's job and its count left ("" for none): at the start and the end.
    Console(FlashRun &run, const FlashOptions &options, std::function<QString()> job = {},
            QObject *parent = nullptr);

    // Says the end: the summary and the report. Returns the exit status the run earned.
    int finish();
    // A line of vantyx-flash's own on standard error.
    static void complain(const QString &line);

private:
    QString label(const FlashJob *job) const;
    // A line that stays, above the live ones on a terminal.
    void say(const QString &line);
    void sayWaiting();
    void onJobStarted(FlashJob *job);
    void onPhaseChanged(FlashJob *job, FlashJob::Phase phase);
    void onProgressed(FlashJob *job, int tenths);
    void onJobFinished(const BoardRecord &board);
    void markDirty();
    void draw();
    static void print(std::FILE *stream, const QString &line);

    FlashRun &m_run;
    const FlashOptions &m_options;
    std::function<QString()> m_job;
    std::FILE *m_human; // standard output, or standard error when the JSON goes there
    bool m_live;        // a terminal: lines redrawn in place
    int m_portWidth = 12;
    bool m_latencySaid = false;
    bool m_finishing = false;
    QStringList m_pendingLines;
    QStringList m_pendingErrors;
    QTimer m_drawTimer;
    QTimer m_progressTimer; // while boards are flashed
    QElapsedTimer m_sinceDraw;
    QList<int> m_drawnLengths; // of the live lines on the terminal now
};
