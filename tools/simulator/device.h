#pragma once

#include "bootloader.h"

#include <QString>

class QSerialPort;

#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

// A Quenlark bootloader played on a pseudo-terminal or a serial port, on a thread of its own,
// scripted to misbehave on purpose.
namespace devicesim {

class Transport;

// Monotonic nanoseconds; every time in a Record is on this clock.
qint64 nowNs();

class Device
{
public:
    explicit Device(Script script = Script());
    ~Device();
    Device(const Device &) = delete;
    Device &operator=(const Device &) = delete;

    // Called on the device's thread as each download ends; set it before the line is opened.
    void onDownloadEnded(std::function<void(const Download &, const QByteArray &image)> report);

    // A new pseudo-terminal pair, raw; the host opens portName(). False where the system has
    // none.
    bool openPty(QString *error);
    // An existing serial port at 115200 8N1 without flow control, as the updater sets it.
    bool openPort(const QString &name, QString *error);
    QString portName() const { return m_portName; }
    // Opens the host's end as another program would, from the calling thread, so that the
    // host's own opens fail while it is held.
    bool holdHostEnd(QString *error);

    // Ends the thread; a download in progress is reported as it stands.
    void stop();

    Record record() const;
    // Without copying the record, which grows with every block.
    bool isUnplugged() const;
    // Blocks received so far, each resend counted: a cheap sign that a download advances.
    qsizetype blocksReceived() const;
    void setScript(const Script &script);
    // Sends bytes unasked, as a device that talks out of turn.
    void inject(const QByteArray &bytes);
    // Forgets the parse state and pending replies and drops what waits on the line; returns
    // once the line is clear.
    void reset();
    // Blocks until `done` holds for the record or `timeoutMs` passes.
    bool waitFor(const std::function<bool(const Record &)> &done, int timeoutMs) const;

private:
    void start();
    void run();

    Bootloader m_bootloader;
    QString m_portName;
    std::unique_ptr<Transport> m_transport;
    std::unique_ptr<QSerialPort> m_holder;
    std::thread m_thread;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    bool m_stopping = false;
    int m_flushRequests = 0;
    int m_flushesDone = 0;
    std::multimap<qint64, Reply> m_replies; // by due time
};

} // namespace devicesim
