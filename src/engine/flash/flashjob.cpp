#include "engine/flash/flashjob.h"

#include "core/protocol/failures.h"
#include "core/protocol/hostrules.h"
#include "core/protocol/quenlark.h"
#include "engine/link/joblink.h"

#include <QDeadlineTimer>
#include <QMutexLocker>
#include <QThread>

namespace {

qint64 nowMs()
{
    return QDeadlineTimer::current(Qt::PreciseTimer).deadline();
}

} // namespace

FlashJob::FlashJob(const QString &port, JobLink *link, std::shared_ptr<const PaddedImage> image,
                   int detectTimeoutMs, QObject *parent)
    : QObject(parent), m_portName(port), m_image(std::move(image)),
      m_detectTimeoutMs(detectTimeoutMs), m_link(link)
{
    m_link->setParent(this);
    m_wakeTimer.setTimerType(Qt::PreciseTimer);
    m_wakeTimer.setInterval(quenlark::wakeUpIntervalMs);
    connect(&m_wakeTimer, &QTimer::timeout, this, &FlashJob::wakeUp);
    connect(&m_detectLimit, &LimitTimer::passed, this, [this] {
        finish(Result::NotDetected, quenlark::failure::noBootloader(m_detectTimeoutMs));
    });
    connect(&m_step, &LimitTimer::passed, this, &FlashJob::onStepTimeout);
}

double FlashJob::seconds() const
{
    const qint64 start = m_startMs, end = m_endMs;
    if (start < 0)
        return 0;
    return double(end >= 0 ? end : nowMs() - start) / 1000.0;
}

QString FlashJob::message() const
{
    QMutexLocker locked(&m_lock);
    return m_message;
}

QDateTime FlashJob::startedAt() const
{
    QMutexLocker locked(&m_lock);
    return m_startedAt;
}

QDateTime FlashJob::endedAt() const
{
    QMutexLocker locked(&m_lock);
    return m_endedAt;
}

bool FlashJob::isRemote() const
{
    return m_link->isRemote();
}

double FlashJob::replyLatencyMs() const
{
    const int replies = m_replies;
    if (replies == 0)
        return 0;
    return qMax(0.0, double(m_replyNs) / replies / 1e6 - quenlark::blockExchangeWireMs);
}

double FlashJob::transferSeconds() const
{
    const qint64 first = m_firstBlockMs, end = m_transferEndMs;
    if (first < 0)
        return 0;
    return double(end >= 0 ? end : nowMs() - first) / 1000.0;
}

void FlashJob::start()
{
    if (thread() != QThread::currentThread()) {
        QMetaObject::invokeMethod(this, &FlashJob::start, Qt::QueuedConnection);
        return;
    }
    {
        QMutexLocker locked(&m_lock);
        m_startedAt = QDateTime::currentDateTime();
    }
    m_startMs = nowMs();
    connect(m_link, &JobLink::opened, this, &FlashJob::onOpened);
    connect(m_link, &JobLink::readyRead, this, &FlashJob::onReadyRead);
    connect(m_link, &JobLink::lost, this,
            [this](const QString &why) { finish(Result::PortError, why); });
    m_link->open();
}

void FlashJob::onOpened()
{
    setPhase(Phase::Waking);
    m_wakeTimer.start(); // the first command one period after the start, as the window's
    if (m_detectTimeoutMs > 0)
        m_detectLimit.restart(m_detectTimeoutMs);
}

void FlashJob::cancel()
{
    if (thread() != QThread::currentThread()) {
        QMetaObject::invokeMethod(this, &FlashJob::cancel, Qt::BlockingQueuedConnection);
        return;
    }
    finish(Result::Cancelled, QStringLiteral("interrupted"));
}

void FlashJob::setPhase(Phase phase)
{
    m_phase = phase;
    emit phaseChanged(phase);
}

void FlashJob::finish(Result result, const QString &message)
{
    if (m_result != Result::Pending)
        return;
    {
        QMutexLocker locked(&m_lock);
        m_message = message;
        m_endedAt = QDateTime::currentDateTime();
    }
    const qint64 now = nowMs();
    if (m_startMs >= 0)
        m_endMs = now - m_startMs;
    if (m_firstBlockMs >= 0)
        m_transferEndMs = now - m_firstBlockMs;
    m_result = result;
    m_wakeTimer.stop();
    m_detectLimit.stop();
    m_step.stop();
    // Safe inside the link's own signals: it is only deleted with the job.
    m_link->disconnect(this);
    m_link->close();
    setPhase(result == Result::Ok ? Phase::Done : Phase::Failed);
    emit finished();
}

void FlashJob::wakeUp()
{
    m_link->write(quenlark::wakeUpCommand, quenlark::wakeUpCommandSize);
}

void FlashJob::onReadyRead()
{
    // One read is one reply; the replies are a few bytes, so no allocation for them.
    char bytes[64];
    const qint64 count = m_link->read(bytes, sizeof bytes);
    if (count <= 0)
        return;
    if (m_link->bytesAvailable() > 0) // more than a reply's worth: take it all, as one read
        handleReply(QByteArray(bytes, int(count)) + m_link->readAll());
    else
        handleReply(QByteArray::fromRawData(bytes, int(count)));
}

void FlashJob::handleReply(const QByteArray &read)
{
    if (m_phase == Phase::Waking) {
        if (!quenlark::isOkReply(read))
            return;
        m_wakeTimer.stop();
        m_detectLimit.stop();
        setPhase(Phase::Settling);
        m_step.restart(quenlark::settlingMs);
        return;
    }
    if (m_phase != Phase::Starting && m_phase != Phase::Sending)
        return; // settling: discarded before the start command anyway

    switch (quenlark::takeRead(read, m_okCount)) {
    case quenlark::Read::SendSizeWord: {
        const QByteArray word = quenlark::sizeWord(quint32(m_image->size));
        m_link->write(word.constData(), word.size());
    }
        if (m_result == Result::Pending)
            m_step.restart(quenlark::sizeReplyLimitMs);
        return;
    case quenlark::Read::StartBlocks:
        setPhase(Phase::Sending);
        m_firstBlockMs = nowMs();
        sendBlock();
        return;
    case quenlark::Read::Deafened: // the block in flight ends as a time-out
    case quenlark::Read::Ignored:
        return;
    case quenlark::Read::BlockReply:
        break;
    }

    const int block = blocks();
    m_replyNs += m_step.elapsedNs();
    ++m_replies;
    switch (quenlark::blockReplyKind(read)) {
    case quenlark::BlockReply::Accepted:
        m_blockOffset += quenlark::blockSize;
        m_resends.accepted();
        m_resent = m_resends.sent();
        emit progressed();
        if (const int tenths = int(qint64(m_blockOffset) * 10 / qMax<qint64>(1, m_image->size));
            tenths > m_tenths) {
            m_tenths = tenths;
            emit passedTenth(tenths);
        }
        if (m_blockOffset >= m_image->size)
            finish(Result::Ok, QString());
        else
            sendBlock();
        return;
    case quenlark::BlockReply::Resend: {
        const bool again = m_resends.sendAgain();
        m_resent = m_resends.sent();
        if (!again) {
            finish(Result::Failed, quenlark::failure::endlessResends(block));
            return;
        }
        emit progressed();
        sendBlock();
        return;
    }
    case quenlark::BlockReply::Bad:
        finish(Result::Failed, quenlark::failure::badBlockReply(block, read));
        return;
    }
}

void FlashJob::onStepTimeout()
{
    switch (m_phase) {
    case Phase::Settling:
        sendStart();
        return;
    case Phase::Starting:
        finish(Result::Failed, m_okCount == 0 ? quenlark::failure::noStartReply()
                                              : quenlark::failure::noSizeReply());
        return;
    case Phase::Sending:
        finish(Result::Failed, quenlark::failure::noBlockReply(blocks()));
        return;
    default:
        return;
    }
}

void FlashJob::sendStart()
{
    setPhase(Phase::Starting);
    quenlark::sendStartCommand(*m_link);
    if (m_result == Result::Pending)
        m_step.restart(quenlark::startReplyLimitMs);
}

void FlashJob::sendBlock()
{
    const quenlark::BlockFrame frame = quenlark::blockFrame(m_image->data.get() + m_blockOffset);
    m_link->write(frame.data(), qint64(frame.size()));
    if (m_result == Result::Pending)
        m_step.restart(quenlark::blockReplyLimitMs);
}
