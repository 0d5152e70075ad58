#include "device.h"

#include "lines.h"

#include <QtEndian>

#include <algorithm>
#include <chrono>
#include <future>

#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif

namespace devicesim {

namespace {

const QByteArray wakeUpCommand("Quenlark boot!\r");
const QByteArray startCommand("\x14\xAA\xEE\x44", 4);
constexpr qint64 msNs = 1000000;
constexpr int blockFrame = imageBlockSize + 1;

} // namespace

qint64 nowNs()
{
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

Device::Device(Script script) : m_script(std::move(script)) {}

Device::~Device()
{
    stop();
}

#ifdef Q_OS_UNIX
bool Device::openPty(QString *error)
{
    m_line = openPtyLine(&m_portName, error);
    if (!m_line)
        return false;
    start();
    return true;
}
#endif

bool Device::openPort(const QString &name, QString *error)
{
    // A serial port belongs to the thread that made it, so the worker opens it.
    std::promise<QString> opened;
    std::future<QString> result = opened.get_future();
    m_thread = std::thread([this, name, &opened] {
        QString reason;
        m_line = openSerialLine(name, &reason);
        const bool ok = m_line != nullptr;
        opened.set_value(ok ? QString() : reason);
        if (!ok)
            return;
        run();
        std::lock_guard<std::mutex> lock(m_mutex);
        m_line.reset();
    });
    *error = result.get();
    if (!error->isEmpty()) {
        m_thread.join();
        return false;
    }
    m_portName = name;
    return true;
}

void Device::start()
{
    m_thread = std::thread([this] { run(); });
}

void Device::stop()
{
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        if (m_line)
            m_line->wake();
    }
    m_thread.join();
}

Record Device::record() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_record;
}

void Device::setScript(const Script &script)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_script = script;
}

bool Device::waitFor(const std::function<bool(const Record &)> &done, int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return done(m_record); });
}

void Device::inject(const QByteArray &bytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_replies.emplace(nowNs(), Pending{bytes, false});
    if (m_line)
        m_line->wake();
}

void Device::reset()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_replies.clear();
    m_pending.clear();
    m_phase = Phase::Listening;
    m_wakeUpsThisDetection = 0;
    m_lastWakeUpAnswer = 0;
    m_record.image.clear();
    m_inLineFreeAt = m_outLineFreeAt = 0;
    if (!m_thread.joinable())
        return;
    // The line is the worker's: it flushes, and we wait until it has.
    const int request = ++m_flushRequests;
    if (m_line)
        m_line->wake();
    m_changed.wait(lock, [&] { return m_flushesDone >= request || m_stopping; });
}

void Device::run()
{
#ifdef Q_OS_LINUX
    // Paced replies are due to the microsecond; the default 50 us of slack would blur them.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif
    char buffer[4096];
    for (;;) {
        qint64 timeoutNs = 100 * msNs;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_stopping)
                return;
            if (m_flushRequests > m_flushesDone) {
                m_line->flush();
                m_flushesDone = m_flushRequests;
                m_changed.notify_all();
            }
            if (!m_replies.empty()) {
                const qint64 wait = m_replies.begin()->first - nowNs();
                timeoutNs = std::clamp<qint64>(wait, 0, timeoutNs);
            }
        }
        const qint64 n = m_line->read(buffer, sizeof buffer, timeoutNs);

        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping)
            return;
        if (n > 0 && m_flushRequests == m_flushesDone)
            feed(buffer, n, nowNs());
        const qint64 now = nowNs();
        while (!m_replies.empty() && m_replies.begin()->first <= now) {
            const Pending due = m_replies.begin()->second;
            m_replies.erase(m_replies.begin());
            m_line->write(due.bytes);
            m_record.lastReplyAt = now;
            if (Download *download = current())
                download->lastReplyAt = now;
            if (due.completes)
                complete();
        }
        m_changed.notify_all();
    }
}

Download *Device::current()
{
    return m_record.downloads.isEmpty() ? nullptr : &m_record.downloads.last();
}

qint64 Device::arrival(qint64 count, qint64 now)
{
    if (m_script.lineRate <= 0)
        return now;
    // The host's bytes appear at once on a pty; a real line would still be carrying them.
    const qint64 start = std::max(now, m_inLineFreeAt);
    m_inLineFreeAt = start + count * 10 * 1000000000LL / m_script.lineRate;
    return m_inLineFreeAt;
}

void Device::complete()
{
    if (Download *download = current())
        download->complete = true;
    ++m_record.downloadsCompleted;
    m_record.completedImage = m_record.image;
}

qint64 Device::reply(const QByteArray &bytes, qint64 at, bool completes)
{
    qint64 due = at;
    if (m_script.lineRate > 0) {
        const qint64 start = std::max(at, m_outLineFreeAt);
        due = start + qint64(bytes.size()) * 10 * 1000000000LL / m_script.lineRate;
        m_outLineFreeAt = due;
    }
    m_replies.emplace(due, Pending{bytes, completes});
    return due;
}

void Device::feed(const char *bytes, qint64 count, qint64 now)
{
    m_record.received.append(bytes, count);
    if (m_pending.isEmpty())
        m_frameReadAt = now;
    m_pending.append(bytes, count);
    const qint64 at = arrival(count, now);
    for (;;) {
        if (m_phase == Phase::Listening) {
            const qsizetype wake = m_pending.indexOf(wakeUpCommand);
            const qsizetype start = m_pending.indexOf(startCommand);
            if (wake < 0 && start < 0) {
                // Keep a tail that may be the beginning of either command.
                const qsizetype keep = wakeUpCommand.size() - 1;
                if (m_pending.size() > keep)
                    m_pending.remove(0, m_pending.size() - keep);
                return;
            }
            if (wake >= 0 && (start < 0 || wake < start)) {
                m_pending.remove(0, wake + wakeUpCommand.size());
                onWakeUp(at);
            } else {
                m_pending.remove(0, start + startCommand.size());
                onStart(at);
            }
        } else if (m_phase == Phase::Size) {
            if (m_pending.size() < 4)
                return;
            const QByteArray word = m_pending.left(4);
            m_pending.remove(0, 4);
            onSize(word, at);
        } else {
            if (m_pending.size() < blockFrame)
                return;
            const QByteArray frame = m_pending.left(blockFrame);
            m_pending.remove(0, blockFrame);
            onBlock(frame, at);
            m_frameReadAt = now;
        }
    }
}

void Device::onWakeUp(qint64 at)
{
    m_record.wakeUps.append(at);
    ++m_wakeUpsThisDetection;
    if (m_script.wakeUpReply.isEmpty() || m_wakeUpsThisDetection < m_script.answerWakeUpNumber)
        return;
    if (m_lastWakeUpAnswer != 0 && at - m_lastWakeUpAnswer < m_script.wakeUpQuietMs * msNs)
        return;
    m_lastWakeUpAnswer = at;
    m_record.wakeUpAnswers.append(reply(m_script.wakeUpReply, at));
}

void Device::onStart(qint64 at)
{
    m_record.startCommands.append(at);
    Download download;
    download.startedAt = at;
    m_record.downloads.append(download);
    m_wakeUpsThisDetection = 0;
    m_phase = Phase::Size;
    if (m_script.silentAfterStart)
        return;
    if (m_script.splitStartReply && m_script.startReply.size() > 1) {
        reply(m_script.startReply.left(1), at);
        reply(m_script.startReply.mid(1), at + 60 * msNs);
    } else {
        reply(m_script.startReply, at);
    }
}

void Device::onSize(const QByteArray &word, qint64 at)
{
    m_record.sizeWords.append(word);
    m_record.image.clear();
    const quint32 size = qFromLittleEndian<quint32>(word.constData());
    m_expectedBlocks = size / imageBlockSize;
    if (Download *download = current())
        download->size = size;
    m_blockIndex = 0;
    m_attempt = 0;
    m_phase = Phase::Blocks;
    if (m_script.silentAfterSize)
        return;
    const bool empty = m_expectedBlocks == 0;
    reply(m_script.sizeReply, at, empty);
    if (empty)
        m_phase = Phase::Listening;
}

void Device::onBlock(const QByteArray &frame, qint64 at)
{
    BlockRecord block;
    block.index = m_blockIndex;
    block.attempt = m_attempt;
    block.data = frame.left(imageBlockSize);
    block.checksum = quint8(frame.at(imageBlockSize));
    quint8 sum = 0;
    for (char byte : std::as_const(block.data))
        sum = quint8(sum + quint8(byte));
    block.checksumOk = quint8(~sum) == block.checksum;
    block.at = at;
    block.readAt = m_frameReadAt;
    Download *download = current();
    if (download && download->firstBlockAt == 0)
        download->firstBlockAt = block.readAt;

    const bool silent = m_script.silentFromBlock >= 0 && block.index >= m_script.silentFromBlock;
    if (!silent)
        block.reply = m_script.blockReply
                          ? m_script.blockReply(block.index, block.attempt, block.checksumOk)
                          : (block.checksumOk ? ack : resend);
    bool completes = false;
    if (block.reply == ack) {
        m_record.image.append(block.data);
        ++m_blockIndex;
        m_attempt = 0;
        if (download)
            ++download->blocks;
        completes = quint32(m_blockIndex) == m_expectedBlocks;
        if (completes)
            m_phase = Phase::Listening;
    } else {
        ++m_attempt;
        if (block.reply == resend) {
            ++m_record.resends;
            if (download)
                ++download->resends;
        }
    }
    if (!silent) {
        const int delayMs = m_script.blockDelay ? m_script.blockDelay(block.index, block.attempt)
                                                : m_script.blockDelayMs;
        reply(block.reply, at + qint64(delayMs) * msNs, completes);
    }
    m_record.blocks.append(block);
}

} // namespace devicesim
