#include "engine/flash/flashrun.h"

#include "core/serial/portlist.h"
#include "core/serial/portname.h"
#include "engine/flash/flashjob.h"
#include "engine/flash/portthreads.h"
#include "engine/link/portlinks.h"
#include "records/recordjson.h"

#include <QUuid>

#include <algorithm>

namespace {

constexpr int lookEveryMs = 500;

// `info` is what the system lists of the job's port; a null one when it lists nothing.
BoardRecord recordOf(const FlashJob &job, const QSerialPortInfo &info)
{
    BoardRecord board;
    board.port = job.port();
    board.result = job.result();
    board.bytesSent = job.bytesSent();
    board.blocks = job.blocks();
    board.resends = job.resends();
    board.seconds = job.seconds();
    board.transferSeconds = job.transferSeconds();
    board.replyLatencyMs = job.replyLatencyMs();
    board.remote = job.isRemote();
    board.message = job.message();
    board.started = job.startedAt();
    board.ended = job.endedAt();
    if (!info.isNull()) {
        board.serialNumber = info.serialNumber();
        board.usb = usbId(info);
        board.location = info.systemLocation();
    }
    return board;
}

// Whether `ports` holds `port` under another name (a by-path link and its ttyUSBn).
bool sameDeviceIn(const QStringList &ports, const QString &port)
{
    const QString key = portKey(port);
    return std::any_of(ports.cbegin(), ports.cend(),
                       [&](const QString &other) { return portKey(other) == key; });
}

} // namespace

FlashRun::FlashRun(const Plan &plan, std::shared_ptr<const PaddedImage> image, QObject *parent)
    : QObject(parent), m_plan(plan),
      m_image(plan.imageName, plan.imageFile, std::move(image), plan.reading),
      m_ports(plan.ports, plan.listed)
{
    m_lookTimer.setInterval(lookEveryMs);
    connect(&m_lookTimer, &QTimer::timeout, this, &FlashRun::look);
}

FlashRun::~FlashRun()
{
    // Jobs still running end here, as cancelled and unrecorded, as a closed program's would.
    for (FlashJob *job : QList<FlashJob *>(m_running)) {
        job->disconnect(this);
        job->cancel();
        portthreads::letGo(job); // once what it said before it ended is heard
    }
}

bool FlashRun::start(QString *why)
{
    if (!m_plan.log.isEmpty() && !m_log.open(m_plan.log, why))
        return false;
    if (!m_plan.logFolder.isEmpty() && !m_dailyLog.openDaily(m_plan.logFolder, why))
        return false;
    for (const BoardLog *log : {&m_log, &m_dailyLog})
        if (log->partialLinesEnded() > 0)
            emit logLineEnded(log->fileName());
    if (m_plan.watch) {
        // Named ports that cannot be watched are said once and left out of the watch.
        QStringList watched;
        for (const QString &port : std::as_const(m_plan.ports))
            if (takes(port, true))
                watched << port;
        m_ports = PortWatcher(watched, m_plan.listed);
        look();
        m_lookTimer.start();
        return true;
    }
    QStringList ports = m_plan.ports;
    if (m_plan.all) {
        const QStringList listed = listedPortNames();
        for (const QString &port : listed)
            if (!sameDeviceIn(ports, port) && takes(port, false))
                ports << port;
    }
    if (ports.isEmpty()) {
        emit noPorts();
        QMetaObject::invokeMethod(this, &FlashRun::endIfDone, Qt::QueuedConnection);
        return true;
    }
    for (const QString &port : ports)
        startJob(port);
    // None started (a job's count allows no more): the run has nothing to wait for.
    if (m_running.isEmpty())
        QMetaObject::invokeMethod(this, &FlashRun::endIfDone, Qt::QueuedConnection);
    return true;
}

void FlashRun::interrupt()
{
    if (m_ended)
        return;
    m_interrupted = true;
    m_lookTimer.stop();
    // Each one ends, is recorded and leaves the list before this returns.
    for (FlashJob *job : QList<FlashJob *>(m_running)) {
        job->cancel();
        onFinished(job);
    }
    if (m_running.isEmpty())
        QMetaObject::invokeMethod(this, &FlashRun::endIfDone, Qt::QueuedConnection);
}

bool FlashRun::flash(const QString &port)
{
    if (m_ended || jobOn(port))
        return false;
    startJob(port);
    return true;
}

void FlashRun::cancel(const QString &port)
{
    if (FlashJob *job = jobOn(port))
        job->cancel();
}

void FlashRun::setAutoFlash(bool on)
{
    m_autoFlash = on;
}

void FlashRun::setStation(const Station &station)
{
    m_plan.station = station;
    m_saidLeftAlone.clear(); // what was left alone may be taken now, or said again
}

void FlashRun::setBoardId(const QString &port, const QString &id)
{
    if (FlashJob *job = jobOn(port)) {
        if (id.isEmpty())
            m_jobBoardIds.remove(job);
        else
            m_jobBoardIds.insert(job, id);
    } else if (id.isEmpty()) {
        m_nextBoardIds.remove(portKey(port));
    } else {
        m_nextBoardIds.insert(portKey(port), id);
    }
}

QString FlashRun::boardIdOf(const QString &port) const
{
    if (FlashJob *job = jobOn(port))
        return m_jobBoardIds.value(job);
    return m_nextBoardIds.value(portKey(port));
}

bool FlashRun::takeChangedImage()
{
    return m_image.takeChanged();
}

FlashJob *FlashRun::jobOn(const QString &port) const
{
    // By the device, not the name: a link to a port and the port are one board.
    const QString key = portKey(port);
    for (FlashJob *job : m_running)
        if (job->port() == port || m_jobKeys.value(job) == key)
            return job;
    return nullptr;
}

void FlashRun::startJob(const QString &port)
{
    const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    QString why;
    if (m_plan.reserve && !m_plan.reserve(id, &why)) { // never opened: no count for it
        if (!m_countRefusalSaid)
            emit countRefused(why);
        m_countRefusalSaid = true;
        return;
    }
    // Made on a port thread, its link and timers with it.
    FlashJob *job = nullptr;
    QMetaObject::invokeMethod(
        portthreads::next(),
        [&] {
            job = new FlashJob(port, linkForPort(port, nullptr), m_image.image(),
                               m_plan.detectTimeoutMs);
        },
        Qt::BlockingQueuedConnection);
    m_recordIds.insert(job, id);
    m_running << job;
    m_jobKeys.insert(job, portKey(port));
    m_jobImages.insert(job, m_image.record());
    const QString boardId = m_nextBoardIds.take(portKey(port));
    if (!boardId.isEmpty())
        m_jobBoardIds.insert(job, boardId);
    m_ports.started(port);
    connect(job, &FlashJob::finished, this, [this, job] { onFinished(job); });
    emit jobStarted(job);
    job->start();
}

void FlashRun::onFinished(FlashJob *job)
{
    if (!m_running.contains(job))
        return; // ended by interrupt(), which recorded it
    BoardRecord board = recordOf(*job, listedInfo(job->port()));
    board.boardId = m_jobBoardIds.take(job); // this board's alone
    board.id = m_recordIds.take(job);
    board.job = m_plan.job;
    if (m_plan.settle) {
        m_plan.settle(board.id, board.result == BoardResult::Ok);
        m_countRefusalSaid = m_countRefusalSaid && board.result == BoardResult::Ok;
    }
    board.slot = m_plan.station.slotLabel(job->port());
    board.tag = m_plan.tag;
    const ImageRecord image = m_jobImages.take(job);
    m_tally.add(board);
    if (m_plan.keepRecords)
        m_records << board;
    const QByteArray line = recordjson::logLine(board, image);
    for (BoardLog *log : {&m_log, &m_dailyLog}) {
        QString why;
        if (log->isOpen() && !log->append(line, &why) && !m_logFailed) {
            m_logFailed = true; // said once; the run's status says it again
            emit logWriteFailed(why);
        }
    }
    m_running.removeOne(job);
    m_jobKeys.remove(job);
    job->disconnect(this);
    portthreads::letGo(job); // once what it said before it ended is heard
    emit recordWritten(line);
    emit jobFinished(job, board);
    if (m_running.isEmpty() && (!m_plan.watch || m_interrupted))
        QMetaObject::invokeMethod(this, &FlashRun::endIfDone, Qt::QueuedConnection);
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
    // Until the image reads whole and unchanged, no board starts; with a locked image, boards
    // go on getting the one in memory, whatever the file does.
    QString why;
    switch (m_image.check(&why, !m_plan.lockImage)) {
    case ImageWatcher::Check::Current:
        break;
    case ImageWatcher::Check::Changed:
        if (m_plan.lockImage)
            emit imageChangedOnDisk(m_image.changedRecord(), QDateTime::currentDateTime());
        else
            emit imageChanged(m_image.record());
        break;
    case ImageWatcher::Check::Changing: // boards wait for the whole of it
        return m_plan.lockImage;
    case ImageWatcher::Check::Unusable:
        if (!m_imageUnusable)
            emit imageUnusable(why);
        m_imageUnusable = true;
        return m_plan.lockImage;
    }
    m_imageUnusable = false;
    return true;
}

void FlashRun::look()
{
    if (!imageStillCurrent())
        return; // the ports' arrivals wait for the next look
    const QStringList newcomers =
        m_ports.look([this](const QString &port) { return jobOn(port) != nullptr; });
    for (const QString &port : newcomers) {
        if (!m_autoFlash || jobOn(port))
            continue;
        const bool named = m_plan.ports.contains(port);
        // A listed port that is a named one under another name is watched by that name.
        if (named ? takes(port, true) : !sameDeviceIn(m_plan.ports, port) && takes(port, false))
            startJob(port);
    }
}

bool FlashRun::takes(const QString &port, bool named)
{
    const Station::Verdict verdict = m_plan.station.judge(
        port, named ? QString() : usbId(listedInfo(port)), named, m_plan.handsOff);
    if (verdict.role == Station::Role::Taken)
        return true;
    if (!m_saidLeftAlone.contains(port)) {
        m_saidLeftAlone.insert(port);
        if (verdict.role == Station::Role::Ignored)
            emit portIgnored(port, verdict.why);
        else
            emit portUnassigned(port);
    }
    return false;
}

void FlashRun::endIfDone()
{
    // Queued, so that the end comes once the application's loop runs; a job started since
    // keeps the run going.
    if (m_ended || !m_running.isEmpty())
        return;
    m_ended = true;
    m_lookTimer.stop();
    emit ended();
}
