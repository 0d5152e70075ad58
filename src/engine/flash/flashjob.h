#pragma once

#include "core/image/firmwareimage.h"
#include "core/protocol/hostrules.h"
#include "core/protocol/limittimer.h"
#include "core/protocol/quenlark.h"
#include "records/boardresult.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

class JobLink;

// One board's download, from opening its port to the last block, driven by the port's signals
// and precise timers on the caller's event loop: no nested loop, no sleep, no thread. Many run
// side by side, each on its own port and timers, so none can hold up or touch another.
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
    // Ends the job where it stands: nothing more is written, the port is closed.
    void cancel();

    QString port() const { return m_portName; }
    Phase phase() const { return m_phase; }
    Result result() const { return m_result; }
    QString message() const { return m_message; } // why it failed, for the operator
    qint64 imageSize() const { return m_image->size; }
    qint64 bytesSent() const { return qint64(m_blockOffset); } // acknowledged
    int blocks() const { return m_blockOffset / quenlark::blockSize; }
    int resends() const { return m_resends.sent(); } // blocks that went out again
    double seconds() const;                          // from start() to the end, or to now
    // From the first block to the end, or to now while it runs: the transfer apart from
    // detection and settling.
    double transferSeconds() const;
    // How much longer than the wire takes a block's reply came, on average: what an adapter's
    // latency timer, or a network, adds to every block. 0 before the first reply.
    double replyLatencyMs() const;
    bool isRemote() const;                              // on a port on another machine
    QDateTime startedAt() const { return m_startedAt; } // the wall clock, for the records
    QDateTime endedAt() const { return m_endedAt; }

signals:
    void phaseChanged();
    void progressed(); // a block was acknowledged or sent again
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

    Phase m_phase = Phase::Opening;
    Result m_result = Result::Pending;
    QString m_message;
    qint32 m_okCount = 0; // where the download stands, as quenlark::takeRead() counts
    int m_blockOffset = 0;
    quenlark::Resends m_resends;
    qint64 m_replyNs = 0; // the block replies' times, from each block's write
    int m_replies = 0;

    QTimer m_wakeTimer;       // the wake-up command's period
    LimitTimer m_detectLimit; // how long the bootloader may take to answer at all
    LimitTimer m_step;        // settling, and each reply's limit, from the step's last write
    QElapsedTimer m_sinceStart;
    QElapsedTimer m_sinceFirstBlock;
    qint64 m_endMs = -1;
    qint64 m_transferEndMs = -1;
    QDateTime m_startedAt;
    QDateTime m_endedAt;
};
