#include "cli/console.h"

#include "cli/exitstatus.h"
#include "cli/livelines.h"
#include "cli/options.h"
#include "cli/report.h"
#include "cli/reporttext.h"
#include "core/terminal/terminal.h"
#include "engine/flash/flashjob.h"
#include "engine/flash/flashrun.h"

namespace {

constexpr int drawEveryMs = 100; // at most ten times a second

} // namespace

Console::Console(FlashRun &run, const FlashOptions &options, std::function<QString()> job,
                 QObject *parent)
    : QObject(parent), m_run(run), m_options(options), m_job(std::move(job)),
      m_human(options.json == QStringLiteral("-") ? stderr : stdout),
      m_live(terminal::canRedraw(m_human))
{
    m_drawTimer.setSingleShot(true);
    connect(&m_drawTimer, &QTimer::timeout, this, &Console::draw);
    // The live lines look at the downloads ten times a second: a signal a block from every
    // port thread would wake this loop thousands of times a second.
    m_progressTimer.setInterval(drawEveryMs);
    connect(&m_progressTimer, &QTimer::timeout, this, [this] {
        if (m_run.running().isEmpty())
            m_progressTimer.stop();
        else
            markDirty();
    });
    connect(&run, &FlashRun::jobStarted, this, &Console::onJobStarted);
    connect(&run, &FlashRun::jobFinished, this,
            [this](FlashJob *, const BoardRecord &board) { onJobFinished(board); });
    connect(&run, &FlashRun::noPorts, this,
            [] { complain(QStringLiteral("no serial ports found")); });
    connect(&run, &FlashRun::portIgnored, this, [this](const QString &port, const QString &why) {
        const QString slot = m_run.station().slotOf(port); // a slot says its name
        say(QStringLiteral("%1: ignored: %2").arg(slot.isEmpty() ? port : slot, why));
    });
    connect(&run, &FlashRun::portUnassigned, this, [this](const QString &port) {
        say(QStringLiteral("%1: unassigned: no slot names it; not flashed").arg(port));
    });
    if (run.watching()) // the first line of a shift, before any board
        QMetaObject::invokeMethod(this, &Console::sayWaiting, Qt::QueuedConnection);
    connect(&run, &FlashRun::imageChanged, this, [this](const ImageRecord &image) {
        print(m_human, QStringLiteral("image changed: %1, %2 bytes, sha256 %3")
                           .arg(image.path)
                           .arg(image.bytes)
                           .arg(image.sha256));
    });
    connect(&run, &FlashRun::imageUnusable, this, [this](const QString &why) {
        complain(QStringLiteral("the image %1 cannot be used now (%2); waiting for it")
                     .arg(m_options.station.image, why));
    });
    connect(&run, &FlashRun::logWriteFailed, this, [this](const QString &why) {
        complain(QStringLiteral("cannot write the log %1: %2").arg(m_options.station.log, why));
    });
    connect(&run, &FlashRun::countRefused, this, [](const QString &why) {
        complain(QStringLiteral("a board is not flashed: %1").arg(why));
    });
    connect(&run, &FlashRun::imageChangedOnDisk, this, [this](const ImageRecord &image) {
        complain(QStringLiteral("the image %1 changed on disk (sha256 %2); boards keep getting "
                                "the one the job approved")
                     .arg(m_options.station.image, image.sha256));
    });
    if (m_job && !m_job().isEmpty())
        QMetaObject::invokeMethod(
            this, [this] { print(m_human, m_job()); }, Qt::QueuedConnection);
    connect(&run, &FlashRun::logLineEnded, this, [](const QString &file) {
        complain(QStringLiteral("the log %1 ended in a partial line (a write cut short before); "
                                "it was ended with a line break, and the next record starts on "
                                "a line of its own")
                     .arg(file));
    });
}

void Console::complain(const QString &line)
{
    print(stderr, QStringLiteral("vantyx-flash: ") + line);
}

QString Console::label(const FlashJob *job) const
{
    return boardLabel(m_run.station().slotLabel(job->port()), job->port());
}

void Console::say(const QString &line)
{
    if (m_live) {
        m_pendingLines << line;
        markDirty();
    } else {
        print(m_human, line);
    }
}

void Console::sayWaiting()
{
    // On a terminal the live screen says it; elsewhere once, each time the bench is idle.
    if (m_live)
        markDirty();
    else if (m_run.running().isEmpty())
        print(m_human, waitingLine(m_run.tally()));
}

void Console::onJobStarted(FlashJob *job)
{
    m_portWidth = qMax(m_portWidth, int(label(job).size()));
    connect(job, &FlashJob::phaseChanged, this,
            [this, job](FlashJob::Phase phase) { onPhaseChanged(job, phase); });
    if (!m_live)
        connect(job, &FlashJob::passedTenth, this,
                [this, job](int tenths) { onProgressed(job, tenths); });
    else if (!m_progressTimer.isActive())
        m_progressTimer.start();
    onPhaseChanged(job, job->phase());
}

void Console::onProgressed(FlashJob *job, int tenths)
{
    // Without a terminal: a line at every further tenth, so a log shows the download moving.
    if (tenths >= 10)
        return;
    print(m_human, QStringLiteral("%1: sending, %2%").arg(label(job)).arg(tenths * 10));
}

void Console::onPhaseChanged(FlashJob *job, FlashJob::Phase phase)
{
    // The phase it changed to: the job runs on, on its own thread, and may be further by now.
    if (m_live)
        markDirty();
    else if (phase != FlashJob::Phase::Done && phase != FlashJob::Phase::Failed)
        print(m_human, QStringLiteral("%1: %2").arg(label(job), phaseName(phase)));
}

void Console::onJobFinished(const BoardRecord &board)
{
    // A failure's reason goes to standard error, once; a cancelled board's stays on its line.
    const bool failed = board.result != BoardResult::Ok && board.result != BoardResult::Cancelled;
    const QString error =
        failed ? QStringLiteral("vantyx-flash: %1: %2").arg(boardLabel(board), board.message)
               : QString();
    QStringList lines{finishedLine(board, !failed)};
    // Said once a run: a bench's adapters are mostly of one kind.
    const QString advice = m_latencySaid ? QString() : latencyAdvice(board);
    if (!advice.isEmpty()) {
        m_latencySaid = true;
        lines << advice;
    }
    if (m_live) {
        m_pendingLines << lines;
        if (!error.isEmpty())
            m_pendingErrors << error;
        markDirty();
        return;
    }
    for (const QString &line : std::as_const(lines))
        print(m_human, line);
    if (!error.isEmpty())
        print(stderr, error);
    if (m_run.watching() && m_run.running().isEmpty())
        sayWaiting();
}

void Console::markDirty()
{
    if (!m_drawTimer.isActive())
        m_drawTimer.start(qMax<qint64>(
            0, drawEveryMs - (m_sinceDraw.isValid() ? m_sinceDraw.elapsed() : drawEveryMs)));
}

void Console::draw()
{
    m_sinceDraw.start();
    // Asked each time: the terminal may have been resized since. One column is left free, so
    // that no line makes the terminal wrap by itself.
    const int columns = terminal::width(m_human);
    // From there down: the lines that stay, then the live ones again. Lines drawn wider than
    // the terminal now is have been wrapped by it.
    std::fputs(terminal::rewind(rowsTaken(m_drawnLengths, columns)).constData(), m_human);
    std::fflush(m_human);
    for (const QString &line : std::as_const(m_pendingLines))
        print(m_human, line);
    for (const QString &error : std::as_const(m_pendingErrors))
        print(stderr, error);
    m_pendingLines.clear();
    m_pendingErrors.clear();
    QList<LiveFigures> jobs;
    jobs.reserve(m_run.running().size());
    for (const FlashJob *job : m_run.running())
        jobs << LiveFigures::of(*job, label(job));
    m_drawnLengths.clear();
    QStringList lines = liveScreen(jobs, m_portWidth, columns - 1, terminal::height(m_human));
    if (lines.isEmpty() && m_run.watching() && !m_finishing)
        lines << waitingLine(m_run.tally()).left(columns - 1);
    for (const QString &line : lines) {
        print(m_human, line);
        m_drawnLengths << int(line.size());
    }
}

void Console::print(std::FILE *stream, const QString &line)
{
    std::fputs((line + QLatin1Char('\n')).toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

int Console::finish()
{
    m_drawTimer.stop();
    m_finishing = true;
    if (m_live)
        draw();
    const ShiftTally &tally = m_run.tally();
    const QString job = m_job ? m_job() : QString();
    print(m_human, summaryLine(tally, m_run.image()) +
                       (job.isEmpty() ? QString() : QStringLiteral("; ") + job));
    bool reportLost = false;
    if (!m_options.json.isEmpty()) {
        const QString failure =
            writeReport(m_options.json, jsonReport(m_run.image(), m_run.records()));
        if (!failure.isEmpty()) {
            // Never lost without a word, and never a success.
            complain(QStringLiteral("cannot write the report %1: %2")
                         .arg(m_options.json == QStringLiteral("-")
                                  ? QStringLiteral("to standard output")
                                  : m_options.json,
                              failure));
            reportLost = true;
        }
    }
    return exitstatus::of(tally.passed(), tally.failed(), tally.cancelled() > 0, m_run.watching(),
                          m_run.logFailed() || reportLost);
}
