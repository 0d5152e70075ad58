#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

// The device's side of the line: a Quenlark bootloader played on a pseudo-terminal or a
// serial port, on its own thread, scripted to misbehave on purpose.
namespace devicesim {

// Monotonic nanoseconds; every time in a Record is on this clock.
qint64 nowNs();

inline constexpr int imageBlockSize = 256;
inline const QByteArray ack("\x14", 1);
inline const QByteArray resend("\x28", 1);

struct Script
{
    // Detection: the reply to a wake-up command; empty means the device never answers.
    QByteArray wakeUpReply = "OK";
    int answerWakeUpNumber = 1; // answer from the n-th wake-up of a detection on
    int wakeUpQuietMs = 250;    // ignore wake-ups a closing detection still had on the line

    QByteArray startReply = "OK";
    bool splitStartReply = false; // the reply in two writes, 60 ms apart
    bool silentAfterStart = false;
    QByteArray sizeReply = "OK";
    bool silentAfterSize = false;

    int silentFromBlock = -1; // no reply to this block index, nor to any after it
    int blockDelayMs = 0;
    // When set, the delay before the reply to this block, instead of blockDelayMs.
    std::function<int(int block, int attempt)> blockDelay;
    // The reply to one block; by default 0x14 for a good checksum and 0x28 for a bad one.
    std::function<QByteArray(int block, int attempt, bool checksumOk)> blockReply;

    // Paces the exchange as an 8N1 line at this rate would (10 bits a byte); 0 is instant.
    int lineRate = 0;
};

struct BlockRecord
{
    int index = 0;
    int attempt = 0;
    QByteArray data;
    quint8 checksum = 0;
    bool checksumOk = false;
    QByteArray reply;  // empty when the device stayed silent
    qint64 at = 0;     // when its last byte arrived (on a paced line, when it would have)
    qint64 readAt = 0; // when its first byte was read
};

// One download as the device saw it, from its start command on.
struct Download
{
    qint64 startedAt = 0;
    qint64 firstBlockAt = 0; // when the first block's first byte was read
    qint64 lastReplyAt = 0;
    qint64 size = -1; // from the size word; -1 until it came
    int blocks = 0;   // accepted
    int resends = 0;
    bool complete = false;
};

struct Record
{
    QByteArray received; // every byte from the host, in order
    QList<qint64> wakeUps;
    QList<qint64> wakeUpAnswers; // when each answer was due to go out
    QList<qint64> startCommands;
    QList<QByteArray> sizeWords;
    QList<BlockRecord> blocks;
    QList<Download> downloads;
    int resends = 0;
    int downloadsCompleted = 0;
    QByteArray image;          // blocks accepted in the current download
    QByteArray completedImage; // the image of the last download the device completed
    qint64 lastReplyAt = 0;
};

// Where the device's bytes come and go: a pseudo-terminal or a serial port.
class Line
{
public:
    virtual ~Line() = default;
    // Waits up to timeoutNs for bytes; returns how many were read, 0 for none.
    virtual qint64 read(char *buffer, qint64 size, qint64 timeoutNs) = 0;
    virtual void write(const QByteArray &bytes) = 0;
    // Drops whatever waits on the line in either direction.
    virtual void flush() = 0;
    // Cuts a wait in read() short, from any thread.
    virtual void wake() {}
};

class Device
{
public:
    explicit Device(Script script = Script());
    ~Device();
    Device(const Device &) = delete;
    Device &operator=(const Device &) = delete;

#ifdef Q_OS_UNIX
    // A new pseudo-terminal pair, raw; the host opens portName().
    bool openPty(QString *error);
#endif
    // An existing serial port at 115200 8N1 without flow control, as the updater sets it.
    bool openPort(const QString &name, QString *error);
    QString portName() const
    {
        return m_portName;
    }

    void stop();

    Record record() const;
    void setScript(const Script &script);
    // Sends bytes unasked, as a device that talks out of turn.
    void inject(const QByteArray &bytes);
    // Forgets the parse state and pending replies and drops what waits on the line; returns
    // once the line is clear.
    void reset();
    // Blocks until `done` holds for the record or `timeoutMs` passes.
    bool waitFor(const std::function<bool(const Record &)> &done, int timeoutMs) const;

private:
    enum class Phase { Listening, Size, Blocks };

    void start();
    void run();
    void feed(const char *bytes, qint64 count, qint64 now);
    qint64 arrival(qint64 count, qint64 now);
    // Queues a reply; returns when it goes out. A download counts as complete only once the
    // reply that completes it is on the line.
    qint64 reply(const QByteArray &bytes, qint64 at, bool completes = false);
    void complete();
    void onWakeUp(qint64 at);
    void onStart(qint64 at);
    void onSize(const QByteArray &word, qint64 at);
    void onBlock(const QByteArray &block, qint64 at);
    Download *current();

    Script m_script;
    QString m_portName;
    std::unique_ptr<Line> m_line;
    std::thread m_thread;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    bool m_stopping = false;
    int m_flushRequests = 0;
    int m_flushesDone = 0;
    Record m_record;
    Phase m_phase = Phase::Listening;
    QByteArray m_pending;
    qint64 m_frameReadAt = 0; // when the first byte still pending was read
    int m_wakeUpsThisDetection = 0;
    qint64 m_lastWakeUpAnswer = 0;
    quint32 m_expectedBlocks = 0;
    int m_blockIndex = 0;
    int m_attempt = 0;
    qint64 m_inLineFreeAt = 0;
    qint64 m_outLineFreeAt = 0;
    struct Pending
    {
        QByteArray bytes;
        bool completes = false;
    };
    std::multimap<qint64, Pending> m_replies; // by due time
};

} // namespace devicesim
