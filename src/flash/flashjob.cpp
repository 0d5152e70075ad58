#include "flash/flashjob.h"

#include "protocol/hostrules.h"
#include "protocol/quenlark.h"
#include "serial/linesettings.h"
#include "serial/porterror.h"

#include <cstring>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

// Where the port is a descriptor and nothing waits before the block, the block goes straight
// to the line: QSerialPort's own write switches its write notifier on and off for each block,
// which 16 boards at 115200 pay for with a fifth more CPU (0.036-0.037 against 0.029-0.030
// s a second, flashloader_bench --only bench). Elsewhere, and for what the line did not take,
// QSerialPort's path, the one Windows uses. Returns how much went out here.
qint64 writeStraight(QSerialPort &port, const char *data, qint64 size)
{
#ifdef Q_OS_UNIX
    if (port.bytesToWrite() == 0)
        return qMax<qint64>(0, ::write(int(port.handle()), data, size_t(size)));
#else
    Q_UNUSED(port);
    Q_UNUSED(data);
    Q_UNUSED(size);
#endif
    return 0;
}

} // namespace

FlashJob::FlashJob(const QString &port, std::shared_ptr<const PaddedImage> image,
                   int detectTimeoutMs, QObject *parent)
    : QObject(parent), m_portName(port), m_image(std::move(image)),
      m_detectTimeoutMs(detectTimeoutMs)
{
    for (QTimer *timer : {&m_wakeTimer, &m_detectLimit, &m_stepTimer})
        timer->setTimerType(Qt::PreciseTimer);
    m_wakeTimer.setInterval(quenlark::wakeUpIntervalMs);
    m_detectLimit.setSingleShot(true);
    m_stepTimer.setSingleShot(true);
    connect(&m_wakeTimer, &QTimer::timeout, this, &FlashJob::wakeUp);
    connect(&m_detectLimit, &QTimer::timeout, this, [this] {
        finish(Result::NotDetected, QStringLiteral("no answer from the bootloader within %1 s")
                                        .arg(m_detectTimeoutMs / 1000.0));
    });
    connect(&m_stepTimer, &QTimer::timeout, this, &FlashJob::onStepTimeout);
}

double FlashJob::seconds() const
{
    return double(m_endMs >= 0 ? m_endMs : m_sinceStart.elapsed()) / 1000.0;
}

double FlashJob::sendingSeconds() const
{
    return m_sinceFirstBlock.isValid() ? double(m_sinceFirstBlock.elapsed()) / 1000.0 : 0;
}

void FlashJob::start()
{
    m_sinceStart.start();
    m_startedAt = QDateTime::currentDateTime();
    m_port = new QSerialPort(m_portName, this);
    applyLineSettings(*m_port);
    if (!m_port->open(QIODevice::ReadWrite)) {
        const QString advice = porterror::openAdvice(m_portName, m_port->error());
        finish(Result::PortError,
               QStringLiteral("cannot open the port: ") + m_port->errorString() +
                   (advice.isEmpty() ? QString() : QStringLiteral(". ") + advice));
        return;
    }
    connect(m_port, &QSerialPort::readyRead, this, &FlashJob::onReadyRead);
    connect(m_port, &QSerialPort::errorOccurred, this, &FlashJob::onPortError);
    setPhase(Phase::Waking);
    m_wakeTimer.start(); // the first command one period after the start, as the window's
    if (m_detectTimeoutMs > 0)
        m_detectLimit.start(m_detectTimeoutMs);
}

void FlashJob::cancel()
{
    finish(Result::Cancelled, QStringLiteral("interrupted"));
}

void FlashJob::setPhase(Phase phase)
{
    m_phase = phase;
    emit phaseChanged();
}

void FlashJob::finish(Result result, const QString &message)
{
    if (m_result != Result::Pending)
        return;
    m_result = result;
    m_message = message;
    m_endMs = m_sinceStart.elapsed();
    m_endedAt = QDateTime::currentDateTime();
    for (QTimer *timer : {&m_wakeTimer, &m_detectLimit, &m_stepTimer})
        timer->stop();
    if (m_port) {
        // Safe inside the port's own signals: it is only deleted with the job.
        m_port->disconnect(this);
        m_port->close();
    }
    setPhase(result == Result::Ok ? Phase::Done : Phase::Failed);
    emit finished();
}

void FlashJob::onPortError(QSerialPort::SerialPortError error)
{
    if (porterror::isFatal(error))
        finish(Result::PortError, QStringLiteral("lost the port: ") + porterror::reason(*m_port));
}

void FlashJob::wakeUp()
{
    m_port->write(quenlark::wakeUpCommand, quenlark::wakeUpCommandSize);
}

void FlashJob::armStep(int limitMs)
{
    m_stepLimitMs = limitMs;
    m_stepTimer.start(quenlark::msUntilPast(double(m_sinceStep.elapsed()), limitMs));
}

void FlashJob::onReadyRead()
{
    // One read is one reply; the replies are a few bytes, so no allocation for them.
    char bytes[64];
    const qint64 count = m_port->read(bytes, sizeof bytes);
    if (count <= 0)
        return;
    if (m_port->bytesAvailable() > 0) // more than a reply's worth: take it all, as one read
        handleReply(QByteArray(bytes, int(count)) + m_port->readAll());
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
        m_sinceStep.start();
        armStep(quenlark::settlingMs);
        return;
    }
    if (m_phase != Phase::Starting && m_phase != Phase::Sending)
        return; // settling: discarded before the start command anyway

    switch (quenlark::takeRead(read, m_okCount)) {
    case quenlark::Read::SendSizeWord:
        m_port->write(quenlark::sizeWord(quint32(m_image->size)));
        m_port->flush();
        m_sinceStep.start();
        if (m_result == Result::Pending)
            armStep(quenlark::sizeReplyLimitMs);
        return;
    case quenlark::Read::StartBlocks:
        setPhase(Phase::Sending);
        m_sinceFirstBlock.start();
        m_stepTimer.stop(); // the size word's limit is no block's
        sendBlock();
        return;
    case quenlark::Read::Deafened: // the block in flight ends as a time-out
    case quenlark::Read::Ignored:
        return;
    case quenlark::Read::BlockReply:
        break;
    }

    const int block = blocks();
    switch (quenlark::blockReplyKind(read)) {
    case quenlark::BlockReply::Accepted:
        m_blockOffset += quenlark::blockSize;
        m_resends.accepted();
        emit progressed();
        if (m_blockOffset >= m_image->size)
            finish(Result::Ok, QString());
        else
            sendBlock();
        return;
    case quenlark::BlockReply::Resend:
        if (!m_resends.sendAgain()) {
            finish(Result::Failed, QStringLiteral("the device asked for block %1 again %2 times "
                                                  "in a row")
                                       .arg(block)
                                       .arg(quenlark::maxResendsInARow));
            return;
        }
        emit progressed();
        sendBlock();
        return;
    case quenlark::BlockReply::Bad:
        finish(Result::Failed, QStringLiteral("the device answered block %1 with %2")
                                   .arg(block)
                                   .arg(quenlark::describeRead(read)));
        return;
    }
}

void FlashJob::onStepTimeout()
{
    if (!quenlark::isPast(double(m_sinceStep.elapsed()), m_stepLimitMs)) {
        armStep(m_stepLimitMs);
        return;
    }
    switch (m_phase) {
    case Phase::Settling:
        sendStart();
        return;
    case Phase::Starting:
        finish(Result::Failed, m_okCount == 0
                                   ? QStringLiteral("no OK to the start command within 5 s")
                                   : QStringLiteral("no OK to the size word within 5 s"));
        return;
    case Phase::Sending:
        finish(Result::Failed, QStringLiteral("no reply to block %1 within 2 s").arg(blocks()));
        return;
    default:
        return;
    }
}

void FlashJob::sendStart()
{
    setPhase(Phase::Starting);
    // Whatever came before (a late second "OK" to the wake-up) is no answer to this.
    m_port->clear(QSerialPort::Input);
    m_port->write(quenlark::startCommand, sizeof quenlark::startCommand);
    m_port->flush();
    m_sinceStep.start();
    if (m_result == Result::Pending)
        armStep(quenlark::startReplyLimitMs);
}

void FlashJob::sendBlock()
{
    char frame[quenlark::blockSize + 1];
    const char *block = m_image->data.get() + m_blockOffset;
    std::memcpy(frame, block, quenlark::blockSize);
    frame[quenlark::blockSize] = char(quenlark::blockChecksum(block));
    const qint64 written = writeStraight(*m_port, frame, qint64(sizeof frame));
    if (written < qint64(sizeof frame)) {
        m_port->write(frame + written, qint64(sizeof frame) - written);
        m_port->flush(); // out now, so that the limit counts from here
    }
    m_sinceStep.start();
    // The limit's timer is restarted only when it is not already running: a timer left from
    // an earlier block fires early, finds the limit not yet passed and sets itself again.
    if (m_result == Result::Pending && !m_stepTimer.isActive())
        armStep(quenlark::blockReplyLimitMs);
    else
        m_stepLimitMs = quenlark::blockReplyLimitMs;
}
