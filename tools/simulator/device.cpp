#include "device.h"

#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace devicesim {

namespace {

const QByteArray wakeUpCommand("Quenlark boot!\r");
const QByteArray startCommand("\x14\xAA\xEE\x44", 4);
constexpr qint64 msNs = 1000000;
constexpr int blockFrame = imageBlockSize + 1;

void makeRaw(int fd, bool setRate)
{
    termios tio{};
    if (tcgetattr(fd, &tio) != 0)
        return;
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~(CSTOPB | PARENB | CRTSCTS);
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (setRate) {
        cfsetispeed(&tio, B115200);
        cfsetospeed(&tio, B115200);
    }
    tcsetattr(fd, TCSANOW, &tio);
}

QString systemError(const QString &what)
{
    return what + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
}

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
    for (int fd : {m_fd, m_slaveFd, m_wakePipe[0], m_wakePipe[1]})
        if (fd >= 0)
            ::close(fd);
}

bool Device::openPty(QString *error)
{
    char name[256] = {};
    if (openpty(&m_fd, &m_slaveFd, name, nullptr, nullptr) != 0) {
        *error = systemError(QStringLiteral("cannot create a pseudo-terminal"));
        return false;
    }
    // Raw before the host opens it, so nothing it sends is echoed or translated.
    makeRaw(m_slaveFd, true);
    fcntl(m_fd, F_SETFL, fcntl(m_fd, F_GETFL) | O_NONBLOCK);
    m_portName = QString::fromLocal8Bit(name);
    return true;
}

bool Device::openPort(const QString &name, QString *error)
{
    m_fd = ::open(name.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (m_fd < 0) {
        *error = systemError(QStringLiteral("cannot open ") + name);
        return false;
    }
    makeRaw(m_fd, true);
    m_portName = name;
    return true;
}

void Device::start()
{
    if (m_thread.joinable() || m_fd < 0)
        return;
    if (pipe(m_wakePipe) != 0)
        return;
    m_stopping = false;
    m_thread = std::thread([this] { run(); });
}

void Device::stop()
{
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    const char wake = 0;
    [[maybe_unused]] ssize_t n = ::write(m_wakePipe[1], &wake, 1);
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
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_replies.emplace(nowNs(), bytes);
    }
    const char wake = 0;
    [[maybe_unused]] ssize_t n = ::write(m_wakePipe[1], &wake, 1);
}

void Device::reset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_replies.clear();
    m_pending.clear();
    m_phase = Phase::Listening;
    m_wakeUpsThisDetection = 0;
    m_lastWakeUpAnswer = 0;
    m_record.image.clear();
    m_inLineFreeAt = m_outLineFreeAt = 0;
    flushLine();
}

void Device::flushLine()
{
    // Drops what the host has not read yet as well as what it sent and we did not parse.
    if (m_slaveFd >= 0)
        tcflush(m_slaveFd, TCIOFLUSH);
    if (m_fd >= 0)
        tcflush(m_fd, TCIOFLUSH);
}

void Device::run()
{
    char buffer[4096];
    for (;;) {
        int timeoutMs = 100;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_stopping)
                return;
            if (!m_replies.empty()) {
                const qint64 wait = m_replies.begin()->first - nowNs();
                timeoutMs = int(std::clamp<qint64>((wait + msNs - 1) / msNs, 0, 100));
            }
        }
        pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_wakePipe[0], POLLIN, 0}};
        ::poll(fds, 2, timeoutMs);

        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping)
            return;
        if (fds[0].revents & POLLIN) {
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n > 0)
                feed(buffer, n, nowNs());
        } else if (fds[0].revents & (POLLHUP | POLLERR)) {
            // A serial adapter unplugged; keep going without spinning.
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        const qint64 now = nowNs();
        while (!m_replies.empty() && m_replies.begin()->first <= now) {
            const QByteArray bytes = m_replies.begin()->second;
            m_replies.erase(m_replies.begin());
            // Non-blocking: with nobody on the line a reply is lost, as on a real wire.
            [[maybe_unused]] ssize_t n = ::write(m_fd, bytes.constData(), size_t(bytes.size()));
            m_record.lastReplyAt = now;
        }
        m_changed.notify_all();
    }
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

qint64 Device::reply(const QByteArray &bytes, qint64 at)
{
    qint64 due = at;
    if (m_script.lineRate > 0) {
        const qint64 start = std::max(at, m_outLineFreeAt);
        due = start + qint64(bytes.size()) * 10 * 1000000000LL / m_script.lineRate;
        m_outLineFreeAt = due;
    }
    m_replies.emplace(due, bytes);
    return due;
}

void Device::feed(const char *bytes, qint64 count, qint64 now)
{
    m_record.received.append(bytes, count);
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
    m_expectedBlocks = qFromLittleEndian<quint32>(word.constData()) / imageBlockSize;
    m_blockIndex = 0;
    m_attempt = 0;
    m_phase = Phase::Blocks;
    if (!m_script.silentAfterSize)
        reply(m_script.sizeReply, at);
    if (m_expectedBlocks == 0 && !m_script.silentAfterSize) {
        ++m_record.downloadsCompleted;
        m_record.completedImage.clear();
        m_phase = Phase::Listening;
    }
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
    if (!block.checksumOk)
        ++m_record.badChecksums;
    if (m_record.firstBlockAt == 0)
        m_record.firstBlockAt = at;

    const bool silent = m_script.silentFromBlock >= 0 && block.index >= m_script.silentFromBlock;
    if (!silent) {
        block.reply = m_script.blockReply
                          ? m_script.blockReply(block.index, block.attempt, block.checksumOk)
                          : (block.checksumOk ? ack : resend);
        reply(block.reply, at + qint64(m_script.blockDelayMs) * msNs);
    }
    m_record.blocks.append(block);

    if (block.reply == ack) {
        m_record.image.append(block.data);
        ++m_blockIndex;
        m_attempt = 0;
        if (quint32(m_blockIndex) == m_expectedBlocks) {
            ++m_record.downloadsCompleted;
            m_record.completedImage = m_record.image;
            m_phase = Phase::Listening;
        }
    } else {
        ++m_attempt;
        if (block.reply == resend)
            ++m_record.resends;
    }
}

} // namespace devicesim
