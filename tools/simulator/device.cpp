#include "device.h"

#include "transport.h"

#include <QSerialPort>

#include <algorithm>
#include <chrono>
#include <future>

namespace devicesim {

qint64 nowNs()
{
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

Device::Device(Script script) : m_bootloader(std::move(script)) {}

Device::~Device()
{
    stop();
}

bool Device::holdHostEnd(QString *error)
{
    m_holder = std::make_unique<QSerialPort>(m_portName);
    if (m_holder->open(QIODevice::ReadWrite))
        return true;
    *error = m_holder->errorString();
    m_holder.reset();
    return false;
}

void Device::onDownloadEnded(std::function<void(const Download &, const QByteArray &)> report)
{
    m_bootloader.downloadEnded = std::move(report);
}

bool Device::openPty(QString *error)
{
    m_transport = openPtyTransport(&m_portName, error);
    if (!m_transport)
        return false;
    start();
    return true;
}

bool Device::openPort(const QString &name, QString *error)
{
    // A serial port belongs to the thread that made it, so the worker opens it.
    std::promise<QString> opened;
    std::future<QString> result = opened.get_future();
    m_thread = std::thread([this, name, &opened] {
        QString reason;
        m_transport = openSerialTransport(name, &reason);
        const bool ok = m_transport != nullptr;
        opened.set_value(ok ? QString() : reason);
        if (!ok)
            return;
        run();
        std::lock_guard<std::mutex> lock(m_mutex);
        m_transport.reset();
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
        if (m_transport)
            m_transport->wake();
        m_changed.notify_all();
    }
    m_thread.join();
    m_bootloader.abandon();
}

Record Device::record() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bootloader.record();
}

bool Device::isUnplugged() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bootloader.record().unpluggedAt != 0;
}

qsizetype Device::blocksReceived() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bootloader.record().blocks.size();
}

void Device::setScript(const Script &script)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bootloader.setScript(script);
}

bool Device::waitFor(const std::function<bool(const Record &)> &done, int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return done(m_bootloader.record()); });
}

void Device::inject(const QByteArray &bytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_replies.emplace(nowNs(), Reply{0, bytes, false});
    if (m_transport)
        m_transport->wake();
}

void Device::reset()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_replies.clear();
    m_bootloader.reset();
    if (!m_thread.joinable())
        return;
    // The line is the worker's: it flushes, and we wait until it has.
    const int request = ++m_flushRequests;
    if (m_transport)
        m_transport->wake();
    m_changed.wait(lock, [&] {
        return m_flushesDone >= request || m_stopping || m_bootloader.record().unpluggedAt != 0;
    });
}

void Device::run()
{
    sharpenThreadTimers();
    char buffer[4096];
    for (;;) {
        qint64 timeoutNs = 100 * 1000000LL;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_stopping)
                return;
            if (m_flushRequests > m_flushesDone) {
                m_transport->flush();
                m_flushesDone = m_flushRequests;
                m_changed.notify_all();
            }
            if (!m_replies.empty()) {
                const qint64 wait = m_replies.begin()->first - nowNs();
                timeoutNs = std::clamp<qint64>(wait, 0, timeoutNs);
            }
        }
        const qint64 n = m_transport->read(buffer, sizeof buffer, timeoutNs);

        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping)
            return;
        if (n > 0 && m_flushRequests == m_flushesDone)
            for (const Reply &reply : m_bootloader.feed(QByteArray(buffer, n), nowNs()))
                m_replies.emplace(reply.at, reply);
        const qint64 now = nowNs();
        while (!m_replies.empty() && m_replies.begin()->first <= now) {
            const Reply due = m_replies.begin()->second;
            m_replies.erase(m_replies.begin());
            if (due.unplug) {
                m_transport->hangUp();
                m_replies.clear();
            } else {
                m_transport->write(due.bytes);
            }
            m_bootloader.sent(due, now);
        }
        m_changed.notify_all();
        if (m_bootloader.record().unpluggedAt != 0)
            break;
    }
    // Unplugged: nothing passes any more; wait to be stopped.
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return m_stopping; });
}

} // namespace devicesim
