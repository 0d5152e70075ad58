#include "bootloader.h"

#include "wire.h"

#include <QtEndian>

#include <algorithm>

namespace devicesim {

namespace {

constexpr qint64 msNs = 1000000;
constexpr int blockFrame = imageBlockSize + 1;

} // namespace

int Record::completedDownloads() const
{
    return int(std::count_if(downloads.cbegin(), downloads.cend(),
                             [](const Download &download) { return download.complete; }));
}

Bootloader::Bootloader(Script script) : m_script(std::move(script)) {}

QList<Reply> Bootloader::feed(const QByteArray &bytes, qint64 now)
{
    m_out.clear();
    if (m_unplugged)
        return {};
    m_record.received.append(bytes);
    m_record.lastReceivedAt = now;
    if (m_pending.isEmpty())
        m_frameReadAt = now;
    m_pending.append(bytes);
    const qint64 at = arrival(bytes.size(), now);
    while (!m_unplugged) {
        if (m_phase == Phase::Listening) {
            const qsizetype wake = m_pending.indexOf(wakeUpCommand);
            const qsizetype start = m_pending.indexOf(startCommand);
            if (wake < 0 && start < 0) {
                // Keep a tail that may be the beginning of either command.
                const qsizetype keep = wakeUpCommand.size() - 1;
                if (m_pending.size() > keep)
                    m_pending.remove(0, m_pending.size() - keep);
                break;
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
                break;
            const QByteArray word = m_pending.left(4);
            m_pending.remove(0, 4);
            onSize(word, at);
        } else {
            if (m_pending.size() < blockFrame)
                break;
            const QByteArray frame = m_pending.left(blockFrame);
            m_pending.remove(0, blockFrame);
            onBlock(frame, at);
            m_frameReadAt = now;
        }
    }
    return std::exchange(m_out, {});
}

void Bootloader::sent(const Reply &reply, qint64 now)
{
    if (reply.unplug) {
        m_record.unpluggedAt = now;
        abandon();
        return;
    }
    Download *download = current();
    if (!download)
        return;
    download->lastReplyAt = now;
    if (!reply.completes)
        return;
    download->complete = true;
    m_record.completedImage = m_image;
    m_currentEnded = true;
    if (downloadEnded)
        downloadEnded(*download, m_image);
}

void Bootloader::reset()
{
    m_pending.clear();
    m_phase = Phase::Listening;
    m_wakeUpsThisDetection = 0;
    m_lastWakeUpAnswer = 0;
    m_image.clear();
    m_inLineFreeAt = m_outLineFreeAt = 0;
}

void Bootloader::abandon()
{
    const Download *download = current();
    if (!download || m_currentEnded)
        return;
    m_currentEnded = true;
    if (downloadEnded)
        downloadEnded(*download, m_image);
}

Download *Bootloader::current()
{
    return m_record.downloads.isEmpty() ? nullptr : &m_record.downloads.last();
}

qint64 Bootloader::arrival(qint64 count, qint64 now)
{
    if (m_script.lineRate <= 0)
        return now;
    // The host's bytes appear at once on a pty; a real line would still be carrying them.
    const qint64 start = std::max(now, m_inLineFreeAt);
    m_inLineFreeAt = start + count * 10 * 1000000000LL / m_script.lineRate;
    return m_inLineFreeAt;
}

void Bootloader::reply(const QByteArray &bytes, qint64 at, bool completes)
{
    qint64 due = at;
    if (m_script.lineRate > 0) {
        const qint64 start = std::max(at, m_outLineFreeAt);
        due = start + qint64(bytes.size()) * 10 * 1000000000LL / m_script.lineRate;
        m_outLineFreeAt = due;
    }
    m_out.append({due + m_script.replyLatencyMs * 1000000LL, bytes, completes});
}

void Bootloader::unplug(qint64 at)
{
    m_out.append({at, QByteArray(), false, true});
    m_unplugged = true;
}

void Bootloader::onWakeUp(qint64 at)
{
    m_record.wakeUps.append(at);
    ++m_wakeUpsThisDetection;
    if (m_wakeUpsThisDetection == m_script.unplugAtWakeUp)
        return unplug(at);
    if (m_script.wakeUpReply.isEmpty() || m_wakeUpsThisDetection < m_script.answerWakeUpNumber)
        return;
    if (m_lastWakeUpAnswer != 0 && at - m_lastWakeUpAnswer < m_script.wakeUpQuietMs * msNs)
        return;
    m_lastWakeUpAnswer = at;
    reply(m_script.wakeUpReply, at);
    m_record.wakeUpAnswers.append(m_out.last().at);
    if (m_script.secondWakeUpAnswerMs > 0)
        reply(m_script.wakeUpReply, at + m_script.secondWakeUpAnswerMs * msNs);
}

void Bootloader::onStart(qint64 at)
{
    abandon(); // a host that starts again has given up the download before
    m_record.startCommands.append(at);
    Download download;
    download.startedAt = at;
    m_record.downloads.append(download);
    m_currentEnded = false;
    m_wakeUpsThisDetection = 0;
    m_phase = Phase::Size;
    if (m_script.unplugAfterStart)
        return unplug(at);
    if (m_script.silentAfterStart)
        return;
    if (m_script.splitStartReply) {
        reply("O", at);
        reply("K", at + 60 * msNs);
    } else {
        reply("OK", at + qint64(m_script.startReplyDelayMs) * msNs);
    }
}

void Bootloader::onSize(const QByteArray &word, qint64 at)
{
    m_record.sizeWords.append(word);
    m_image.clear();
    const quint32 size = qFromLittleEndian<quint32>(word.constData());
    m_expectedBlocks = size / imageBlockSize;
    if (Download *download = current())
        download->size = size;
    m_blockIndex = 0;
    m_attempt = 0;
    m_phase = Phase::Blocks;
    if (m_script.unplugAfterSize)
        return unplug(at);
    if (m_script.silentAfterSize)
        return;
    const bool empty = m_expectedBlocks == 0;
    reply("OK", at, empty);
    if (empty)
        m_phase = Phase::Listening;
}

void Bootloader::onBlock(const QByteArray &frame, qint64 at)
{
    BlockRecord block;
    block.index = m_blockIndex;
    block.attempt = m_attempt;
    block.data = frame.left(imageBlockSize);
    block.checksum = quint8(frame.at(imageBlockSize));
    block.checksumOk = checksum(block.data) == block.checksum;
    block.at = at;
    Download *download = current();
    if (download && download->firstBlockAt == 0)
        download->firstBlockAt = m_frameReadAt;
    if (block.index == m_script.unplugAfterBlock) {
        m_record.blocks.append(block);
        return unplug(at);
    }

    const bool silent = m_script.silentFromBlock >= 0 && block.index >= m_script.silentFromBlock;
    if (!silent)
        block.reply = m_script.blockReply
                          ? m_script.blockReply(block.index, block.attempt, block.checksumOk)
                          : (block.checksumOk ? ack : resend);
    bool completes = false;
    if (block.reply == ack) {
        m_image.append(block.data);
        ++m_blockIndex;
        m_attempt = 0;
        if (download)
            ++download->blocks;
        completes = quint32(m_blockIndex) == m_expectedBlocks;
        if (completes)
            m_phase = Phase::Listening;
    } else {
        ++m_attempt;
        if (block.reply == resend && download)
            ++download->resends;
    }
    if (!silent) {
        const int delayMs = m_script.blockDelay ? m_script.blockDelay(block.index, block.attempt)
                                                : m_script.blockDelayMs;
        reply(block.reply, at + qint64(delayMs) * msNs, completes);
    }
    m_record.blocks.append(block);
}

} // namespace devicesim
