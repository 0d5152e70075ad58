#include "flash/flashrun.h"

#include "flash/flashjob.h"
#include "flash/portlinks.h"
#include "flash/recordjson.h"
#include "serial/portlist.h"
#include "serial/portname.h"

#include <algorithm>

namespace {

constexpr int lookEveryMs = 500;

} // namespace

FlashRun::FlashRun(const Plan &plan, std::shared_ptr<const PaddedImage> image, QObject *parent)
    : QObject(parent), m_plan(plan), m_image(plan.imageName, plan.imageFile, std::move(image)),
      m_ports(plan.ports)
{
    m_lookTimer.setInterval(lookEveryMs);
    connect(&m_lookTimer, &QTimer::timeout, this, &FlashRun::look);
}

bool FlashRun::start(QString *why)
{
    if (!m_plan.log.isEmpty() && !m_log.open(m_plan.log, why))
        return false;
    if (m_plan.watch) {
        look();
        m_lookTimer.start();
        return true;
    }
    const QStringList ports = m_plan.all ? listedPortNames() : m_plan.ports;
    if (ports.isEmpty()) {
        emit noPorts();
        QMetaObject::invokeMethod(this, &FlashRun::endIfDone, Qt::QueuedConnection);
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
    m_lookTimer.stop();
    for (FlashJob *job : QList<FlashJob *>(m_running))
        job->cancel(); // finishes it, and the run once the last one has
    if (m_running.isEmpty())
        QMetaObject::invokeMethod(this, &FlashRun::endIfDone, Qt::QueuedConnection);
}

void FlashRun::startJob(const QString &port)
{
    auto *job = new FlashJob(port, linkForPort(port, nullptr), m_image.image(),
                             m_plan.detectTimeoutMs, this);
    m_running << job;
    m_jobImages.insert(job, m_image.record());
    m_ports.started(port);
    connect(job, &FlashJob::finished, this, [this, job] { onFinished(job); });
    emit jobStarted(job);
    job->start();
}

void FlashRun::onFinished(FlashJob *job)
{
    const BoardRecord board = BoardRecord::of(*job, listedInfo(job->port()));
    const ImageRecord image = m_jobImages.take(job);
    m_tally.add(board);
    if (m_plan.keepRecords)
        m_records << board;
    QString why;
    if (m_log.isOpen() && !m_log.append(recordjson::logLine(board, image), &why) && !m_logFailed) {
        m_logFailed = true;
        emit logWriteFailed(why);
    }
    m_running.removeOne(job);
    job->deleteLater();
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
    // Until the image reads whole and unchanged, no board starts.
    QString why;
    switch (m_image.check(&why)) {
    case ImageWatcher::Check::Current:
        break;
    case ImageWatcher::Check::Changed:
        emit imageChanged(m_image.record());
        break;
    case ImageWatcher::Check::Unusable:
        if (!m_imageUnusable)
            emit imageUnusable(why);
        m_imageUnusable = true;
        return false;
    }
    m_imageUnusable = false;
    return true;
}

void FlashRun::look()
{
    if (!imageStillCurrent())
        return; // the ports' arrivals wait for the next look
    const QStringList arrived = m_ports.look([this](const QString &port) {
        return std::any_of(m_running.cbegin(), m_running.cend(),
                           [&](const FlashJob *job) { return job->port() == port; });
    });
    for (const QString &port : arrived)
        startJob(port);
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
