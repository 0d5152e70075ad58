#pragma once

#include "core/image/firmwareimage.h"
#include "core/protocol/hostrules.h"
#include "core/protocol/limittimer.h"
#include "core/protocol/quenlark.h"
#include "records/boardresult.h"

#include <QDateTime>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <memory>

class JobLink;

// One board's download, from opening its port to the last block, driven by the port's signals
// and precise timers on the event loop of the thread it lives on: no nested loop, no sleep.
// Many run side by side, each on its own port and timers, so none can hold up or touch another.
// What it says of itself may be asked from any thread; start() and cancel() may be called from
// any thread too.
class FlashJob : public QObject
{
    Q_OBJECT

public:
    enum class Phase { Opening, Waking, Settling, Starting, Sending, Done, Failed };
    using Result = BoardResult;

    // Talks to the board on `link` (linkForPort() makes one for a port name), which becomes
    // the job's. `detectTimeoutMs` bounds the wait for the bootloader; 0 waits for ever.
    FlashJob(const QString &port, JobLink *link, std::shared_ptr<const PaddedImage> image,
             int detectTimeoutMs, QObject *parent = nullptr);

    void start();
    // Ends the job where it stands: nothing more is written, the port is closed. Called from
    // another thread, it returns once the job has ended.
    void cancel();

    QString port() const { return m_portName; }
    Phase phase() const { return m_phase; }
    Result result() const { return m_result; }
    QString message() const; // why it failed, for the operator
    qint64 imageSize() const { return m_image->size; }
    qint64 bytesSent() const { return qint64(m_blockOffset); } // acknowledged
    int blocks() const { return m_blockOffset / quenlark::blockSize; }
    int resends() const { return m_resent; } // blocks that went out again
    double seconds() const;                  // from start() to the end, or to now
    // From the first block to the end, or to now while it runs: the transfer apart from
    // detection and settling.
    double transferSeconds() const;
    // How much longer than the wire takes a block's reply came, on average: what an adapter's
    // latency timer, or a network, adds to every block. 0 before the first reply.
    double replyLatencyMs() const;
    bool isRemote() const;       // on a port on another machine
    QDateTime startedAt() const; // the wall clock, for the records
    QDateTime endedAt() const;

signals:
    // `phase` is the one it changed to: the job may be further on when a slot on another
    // thread hears of it.
    void phaseChanged(FlashJob::Phase phase);
    void progressed(); // a block was acknowledged or sent again
    // A further tenth of the image is acknowledged (1 to 10): few enough to be heard on
    // another thread.
    void passedTenth(int tenths);
    void finished();

private:
    void setPhase(Phase phase);
    void finish(Result result, const QString &message);
    void onReadyRead();
    void handleReply(const QByteArray &read);
    void onOpened();
    void onStepTimeout();
    void wakeUp();
    void sendStart();
    void sendBlock();

    QString m_portName;
    std::shared_ptr<const PaddedImage> m_image;
    int m_detectTimeoutMs;
    JobLink *m_link; // a child: closed when the job ends, deleted with it

    // Read from other threads: each alone, or under m_lock.
    std::atomic<Phase> m_phase{Phase::Opening};
    std::atomic<Result> m_result{Result::Pending};
    std::atomic<int> m_blockOffset{0};
    std::atomic<int> m_resent{0};
    std::atomic<qint64> m_replyNs{0}; // the block replies' times, from each block's write
    std::atomic<int> m_replies{0};
    std::atomic<qint64> m_startMs{-1}; // on one monotonic clock
    std::atomic<qint64> m_firstBlockMs{-1};
    std::atomic<qint64> m_endMs{-1};
    std::atomic<qint64> m_transferEndMs{-1};
    mutable QMutex m_lock;
    QString m_message;
    QDateTime m_startedAt;
    QDateTime m_endedAt;

    qint32 m_okCount = 0; // where the download stands, as quenlark::takeRead() counts
    int m_tenths = 0;
    quenlark::Resends m_resends;

    QTimer m_wakeTimer;       // the wake-up command's period
    LimitTimer m_detectLimit; // how long the bootloader may take to answer at all
    LimitTimer m_step;        // settling, and each reply's limit, from the step's last write
};
