#pragma once

#include <QByteArray>
#include <QList>

#include <functional>

// The device's side of the protocol as a pure function of the host's bytes and the time they
// came: no line, no thread, so a unit test can drive it directly.
namespace devicesim {

struct Script
{
    // Detection: the reply to a wake-up command; empty means the device never answers.
    QByteArray wakeUpReply = "OK";
    int answerWakeUpNumber = 1;   // answer from the n-th wake-up of a detection on
    int wakeUpQuietMs = 250;      // ignore wake-ups a closing detection still had on the line
    int secondWakeUpAnswerMs = 0; // when set, a stray second answer this long after the first

    bool splitStartReply = false; // "O" and "K" in two writes, 60 ms apart
    int startReplyDelayMs = 0;    // the start command's "OK" this long after it
    bool silentAfterStart = false;
    bool silentAfterSize = false;

    int silentFromBlock = -1; // no reply to this block index, nor to any after it
    int blockDelayMs = 0;
    // When set, the delay before the reply to this block, instead of blockDelayMs.
    std::function<int(int block, int attempt)> blockDelay;
    // The reply to one block; by default 0x14 for a good checksum and 0x28 for a bad one.
    std::function<QByteArray(int block, int attempt, bool checksumOk)> blockReply;

    // Paces the exchange as an 8N1 line at this rate would (10 bits a byte); 0 is instant.
    int lineRate = 0;
    // Holds every reply back this long once the line has carried it, as a USB adapter's
    // latency timer holds a short read.
    int replyLatencyMs = 0;

    // The line goes down, as when an adapter is pulled out: on this wake-up of a detection
    // (from 1), right after the start command or the size word, or once this block (from 0)
    // has come.
    int unplugAtWakeUp = 0;
    bool unplugAfterStart = false;
    bool unplugAfterSize = false;
    int unplugAfterBlock = -1;
};

struct BlockRecord
{
    int index = 0;
    int attempt = 0;
    QByteArray data;
    quint8 checksum = 0;
    bool checksumOk = false;
    QByteArray reply; // empty when the device stayed silent
    qint64 at = 0;    // when its last byte arrived (on a paced line, when it would have)
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
    QByteArray completedImage; // the image of the last download the device completed
    qint64 unpluggedAt = 0;
    qint64 lastReceivedAt = 0; // when the host's last bytes were read

    int completedDownloads() const;
};

// Bytes the device puts on the line at `at`, or the line pulled at `at`. A download counts as
// complete only once the reply that completes it has gone out (sent()).
struct Reply
{
    qint64 at = 0;
    QByteArray bytes;
    bool completes = false;
    bool unplug = false;
};

class Bootloader
{
public:
    explicit Bootloader(Script script = Script());

    // The host's bytes, read at `now` (nanoseconds on any one clock): the replies they call for.
    QList<Reply> feed(const QByteArray &bytes, qint64 now);
    // A reply from feed() went out at `now`.
    void sent(const Reply &reply, qint64 now);
    // Forgets the parse state and the image in progress, as a device reset would.
    void reset();
    // Reports the download in progress, if any, as ended where it stands.
    void abandon();

    void setScript(const Script &script) { m_script = script; }
    const Record &record() const { return m_record; }

    // Called as each download ends: completed, or abandoned by a new start command or abandon().
    std::function<void(const Download &, const QByteArray &image)> downloadEnded;

private:
    enum class Phase { Listening, Size, Blocks };

    qint64 arrival(qint64 count, qint64 now);
    void reply(const QByteArray &bytes, qint64 at, bool completes = false);
    void unplug(qint64 at);
    void onWakeUp(qint64 at);
    void onStart(qint64 at);
    void onSize(const QByteArray &word, qint64 at);
    void onBlock(const QByteArray &frame, qint64 at);
    Download *current();

    Script m_script;
    Record m_record;
    QList<Reply> m_out; // what the bytes being fed call for
    Phase m_phase = Phase::Listening;
    QByteArray m_pending;
    qint64 m_frameReadAt = 0; // when the first byte still pending was read
    int m_wakeUpsThisDetection = 0;
    qint64 m_lastWakeUpAnswer = 0;
    quint32 m_expectedBlocks = 0;
    int m_blockIndex = 0;
    int m_attempt = 0;
    QByteArray m_image;         // blocks accepted in the current download
    bool m_currentEnded = true; // reported as ended already
    bool m_unplugged = false;
    qint64 m_inLineFreeAt = 0;
    qint64 m_outLineFreeAt = 0;
};

} // namespace devicesim
