#include "cli/flashrun.h"

#include "cli/exitstatus.h"
#include "cli/livelines.h"
#include "cli/terminal.h"
#include "flash/flashjob.h"
#include "serial/portlist.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#ifdef Q_OS_LINUX
#include <sys/stat.h>
#endif

namespace {

constexpr int drawEveryMs = 100; // at most ten times a second
constexpr int scanEveryMs = 500;

#ifdef Q_OS_UNIX
// A port is a device node there: a named port can be looked for without listing them all.
constexpr bool portsAreDeviceNodes = true;
#else
constexpr bool portsAreDeviceNodes = false;
#endif

// Which device is behind a port now: a board swapped in between two looks gets a new node.
// Empty where the system gives no such thing, and for a port that is not there.
QString nodeIdentity(const QString &port)
{
#ifdef Q_OS_LINUX
    struct stat info = {};
    if (::stat(deviceNode(port).toLocal8Bit().constData(), &info) != 0)
        return QString();
    // A node made anew (a pseudo-terminal's number taken again) has a new change time.
    return QStringLiteral("%1:%2:%3.%4")
        .arg(quint64(info.st_rdev))
        .arg(quint64(info.st_ino))
        .arg(qint64(info.st_ctim.tv_sec))
        .arg(qint64(info.st_ctim.tv_nsec));
#else
    Q_UNUSED(port);
    return QString();
#endif
}

// Writes the report, replacing a file whole or not at all; a device or a pipe (no file to
// replace) is written straight. Empty when it all went out, else why not.
QString writeReport(const QString &path, const QByteArray &json)
{
    if (path == QStringLiteral("-")) {
        const bool written =
            std::fwrite(json.constData(), 1, size_t(json.size()), stdout) == size_t(json.size()) &&
            std::fflush(stdout) == 0;
        return written ? QString() : QString::fromLocal8Bit(std::strerror(errno));
    }
    const QFileInfo target(path);
    if (target.exists() && !target.isFile()) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(json) != json.size() || !file.flush())
            return file.errorString();
        return QString();
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(json) != json.size() || !file.commit())
        return file.errorString();
    return QString();
}

} // namespace

std::optional<ImageStamp> ImageStamp::of(const std::filesystem::path &file)
{
    std::error_code error;
    ImageStamp stamp{std::filesystem::file_size(file, error), {}};
    if (error)
        return std::nullopt;
    stamp.modified = std::filesystem::last_write_time(file, error);
    if (error)
        return std::nullopt;
    return stamp;
}

FlashRun::FlashRun(const FlashOptions &options, std::shared_ptr<const PaddedImage> image,
                   QObject *parent)
    : QObject(parent), m_options(options), m_image(std::move(image)),
      m_human(options.json == QStringLiteral("-") ? stderr : stdout),
      m_live(terminal::canRedraw(m_human)), m_imageReport(ImageReport::of(options.image, *m_image)),
      m_imageStamp(ImageStamp::of(options.imageFile).value_or(ImageStamp()))
{
    m_drawTimer.setSingleShot(true);
    connect(&m_drawTimer, &QTimer::timeout, this, &FlashRun::draw);
    m_scanTimer.setInterval(scanEveryMs);
    connect(&m_scanTimer, &QTimer::timeout, this, &FlashRun::scanPorts);
}

bool FlashRun::start()
{
    QString why;
    if (!m_options.log.isEmpty() && !m_log.open(m_options.log, &why)) {
        print(stderr,
              QStringLiteral("vantyx-flash: cannot open the log %1: %2").arg(m_options.log, why));
        return false;
    }
    if (m_options.watch) {
        scanPorts();
        m_scanTimer.start();
        return true;
    }
    const QStringList ports = m_options.all ? listedPortNames() : m_options.ports;
    if (ports.isEmpty()) {
        print(stderr, QStringLiteral("vantyx-flash: no serial ports found"));
        QMetaObject::invokeMethod(this, &FlashRun::finishRun, Qt::QueuedConnection);
        return true;
    }
    for (const QString &port : ports)
        startJob(port);
    return true;
}

void FlashRun::interrupt()
{
    if (m_ended)
        return;
    m_interrupted = true;
    m_scanTimer.stop();
    for (FlashJob *job : QList<FlashJob *>(m_running))
        job->cancel(); // finishes it, and the run once the last one has
    if (m_running.isEmpty())
        QMetaObject::invokeMethod(this, &FlashRun::finishRun, Qt::QueuedConnection);
}

void FlashRun::startJob(const QString &port)
{
    auto *job = new FlashJob(port, m_image, m_options.detectTimeoutMs, this);
    m_running << job;
    m_jobImages.insert(job, m_imageReport);
    m_flashedNode[port] = nodeIdentity(port);
    m_portWidth = qMax(m_portWidth, int(port.size()));
    connect(job, &FlashJob::phaseChanged, this, [this, job] { onPhaseChanged(job); });
    connect(job, &FlashJob::finished, this, [this, job] { onFinished(job); });
    if (m_live)
        connect(job, &FlashJob::progressed, this, &FlashRun::markDirty);
    else
        connect(job, &FlashJob::progressed, this, [this, job] { onProgressed(job); });
    onPhaseChanged(job);
    job->start();
}

void FlashRun::onProgressed(FlashJob *job)
{
    // Without a terminal: a line at every further tenth, so a log shows the download moving.
    const int tenths = job->imageSize() > 0 ? int(job->bytesSent() * 10 / job->imageSize()) : 0;
    int &printed = m_printedTenths[job];
    if (tenths <= printed || tenths >= 10)
        return;
    printed = tenths;
    print(m_human, QStringLiteral("%1: sending, %2%").arg(job->port()).arg(tenths * 10));
}

void FlashRun::onPhaseChanged(FlashJob *job)
{
    if (m_live)
        markDirty();
    else if (job->result() == FlashJob::Result::Pending)
        print(m_human, QStringLiteral("%1: %2").arg(job->port(), phaseName(job->phase())));
}

void FlashRun::onFinished(FlashJob *job)
{
    const BoardReport board = BoardReport::of(*job, listedInfo(job->port()));
    const ImageReport image = m_jobImages.take(job);
    m_tally.add(board);
    if (!m_options.json.isEmpty())
        m_finished << board;
    QString why;
    if (m_log.isOpen() && !m_log.append(logLine(board, image), &why) && !m_logFailed) {
        m_logFailed = true; // said once; the run's status says it again
        print(stderr,
              QStringLiteral("vantyx-flash: cannot write the log %1: %2").arg(m_options.log, why));
    }
    m_running.removeOne(job);
    m_printedTenths.remove(job);
    job->deleteLater();
    const QString error =
        board.result == FlashJob::Result::Ok || board.result == FlashJob::Result::Cancelled
            ? QString()
            : QStringLiteral("vantyx-flash: %1: %2").arg(board.port, board.message);
    QStringList lines{finishedLine(board)};
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
    } else {
        for (const QString &line : std::as_const(lines))
            print(m_human, line);
        if (!error.isEmpty())
            print(stderr, error);
    }
    if (m_running.isEmpty() && (!m_options.watch || m_interrupted))
        QMetaObject::invokeMethod(this, &FlashRun::finishRun, Qt::QueuedConnection);
}

QSerialPortInfo FlashRun::listedInfo(const QString &port)
{
    constexpr int listedForMs = 2000;
    if (!mayBeListed(port))
        return QSerialPortInfo(); // no scan of every tty for a port none of them is
    if (!m_sinceListed.isValid() || m_sinceListed.elapsed() > listedForMs) {
        m_listed.clear();
        const QList<QSerialPortInfo> ports = listedPorts();
        for (const QSerialPortInfo &info : ports) {
            m_listed.insert(info.portName(), info);
            m_listed.insert(info.systemLocation(), info);
        }
        m_sinceListed.start();
    }
    return m_listed.value(port);
}

bool FlashRun::imageStillCurrent()
{
    // A shift outlives many builds of the image: look at it before each board, and read it
    // again when it changed. Until it reads whole and unchanged, no board starts.
    const std::optional<ImageStamp> now = ImageStamp::of(m_options.imageFile);
    if (now && *now == m_imageStamp)
        return true;
    QString why;
    std::optional<PaddedImage> image = readPaddedImage(m_options.imageFile, &why);
    const std::optional<ImageStamp> after = ImageStamp::of(m_options.imageFile);
    if (!image || !now || after != now) {
        if (!m_imageUnusable) // said once, until it can be used again
            print(stderr,
                  QStringLiteral("vantyx-flash: the image %1 cannot be used now (%2); "
                                 "waiting for it")
                      .arg(m_options.image, image ? QStringLiteral("it changed while read") : why));
        m_imageUnusable = true;
        return false;
    }
    m_imageUnusable = false;
    m_imageStamp = *after;
    const ImageReport report = ImageReport::of(m_options.image, *image);
    if (report.sha256 == m_imageReport.sha256)
        return true; // touched, not changed
    m_image = std::make_shared<const PaddedImage>(std::move(*image));
    m_imageReport = report;
    print(m_human, QStringLiteral("image changed: %1, %2 bytes, sha256 %3")
                       .arg(report.path)
                       .arg(report.bytes)
                       .arg(report.sha256));
    return true;
}

void FlashRun::scanPorts()
{
    if (!imageStillCurrent())
        return; // the ports' arrivals wait for the next look
    QSet<QString> present;
    if (portsAreDeviceNodes && !m_options.ports.isEmpty()) {
        // A named port is there when its device node is, listed or not (a pseudo-terminal, a
        // link to a board's port): no need to ask the system for all of them twice a second.
        for (const QString &port : std::as_const(m_options.ports))
            if (QFileInfo::exists(deviceNode(port)))
                present.insert(port);
    } else {
        const QStringList listed = listedPortNames();
        for (const QString &port : listed)
            if (m_options.ports.isEmpty() || m_options.ports.contains(port))
                present.insert(port);
    }
    for (const QString &port : std::as_const(present)) {
        const bool busy = std::any_of(m_running.cbegin(), m_running.cend(),
                                      [&](const FlashJob *job) { return job->port() == port; });
        // Flashed once each time it appears: a board that stays gets no second download. One
        // swapped for another between two looks is a new arrival all the same.
        const bool arrived = !m_present.contains(port) ||
                             nodeIdentity(port) != m_flashedNode.value(port, nodeIdentity(port));
        if (arrived && !busy)
            startJob(port);
    }
    m_present = present;
}

void FlashRun::markDirty()
{
    if (!m_drawTimer.isActive())
        m_drawTimer.start(qMax<qint64>(
            0, drawEveryMs - (m_sinceDraw.isValid() ? m_sinceDraw.elapsed() : drawEveryMs)));
}

void FlashRun::draw()
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
    jobs.reserve(m_running.size());
    for (const FlashJob *job : std::as_const(m_running))
        jobs << LiveFigures::of(*job);
    m_drawnLengths.clear();
    const QStringList lines = liveScreen(jobs, m_portWidth, columns - 1, terminal::height(m_human));
    for (const QString &line : lines) {
        print(m_human, line);
        m_drawnLengths << int(line.size());
    }
}

void FlashRun::print(std::FILE *stream, const QString &line)
{
    std::fputs((line + QLatin1Char('\n')).toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

void FlashRun::finishRun()
{
    // Queued, so that exit() comes once the application's loop runs; a job started since
    // keeps the run going.
    if (m_ended || !m_running.isEmpty())
        return;
    m_ended = true;
    m_scanTimer.stop();
    if (m_live)
        draw();
    print(m_human, summaryLine(m_tally, m_imageReport));

    // The status the boards earned: Ctrl-C that cut none (a bench between boards) is no
    // failure.
    const bool none = m_tally.succeeded + m_tally.failed == 0;
    int status = (none && !m_options.watch) || m_tally.failed > 0 || m_logFailed
                     ? exitstatus::SomeFailed
                     : exitstatus::AllSucceeded;
    if (m_tally.cut)
        status = exitstatus::Interrupted;

    if (!m_options.json.isEmpty()) {
        const QString failure = writeReport(m_options.json, jsonReport(m_imageReport, m_finished));
        if (!failure.isEmpty()) {
            // Never lost without a word, and never a success.
            print(stderr, QStringLiteral("vantyx-flash: cannot write the report %1: %2")
                              .arg(m_options.json == QStringLiteral("-")
                                       ? QStringLiteral("to standard output")
                                       : m_options.json,
                                   failure));
            if (status == exitstatus::AllSucceeded)
                status = exitstatus::SomeFailed;
        }
    }
    emit ended();
    QCoreApplication::exit(status);
}
