#pragma once

#include "engine/flash/imagewatcher.h"
#include "engine/flash/portwatcher.h"
#include "engine/flash/station.h"
#include "records/boardlog.h"
#include "records/boardrecord.h"
#include "records/shifttally.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSerialPortInfo>
#include <QSet>
#include <QTimer>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

class FlashJob;

// A run of many boards: a job per port, on the port threads, or a shift that flashes every board
// as it is plugged in, each finished board recorded and logged. It prints nothing: a front end
// follows its signals and the jobs'.
class FlashRun : public QObject
{
    Q_OBJECT

public:
    struct Plan
    {
        QStringList ports;  // the ports to flash, or to watch; none with `all`
        bool all = false;   // every port the system lists
        bool watch = false; // flash boards as they appear, until interrupt()
        // How long a board's bootloader may take to answer, in a watch as well; 0: for ever.
        int detectTimeoutMs = 0;
        // No operator is there to flash by hand what cannot be watched (vantyx-flash --watch):
        // a port on another machine is then left alone, said once.
        bool handsOff = false;
        QString log;              // "" none: one line per finished board
        bool keepRecords = false; // every finished board in records(), for a report
        QString imageName;        // as the records give it
        std::filesystem::path imageFile;
        ImageReading reading = ImageReading::anyFormatUpTo(defaultLargestImage);
        // Watching: the ports the system lists that are watched besides `ports`.
        PortWatcher::Listed listed = PortWatcher::Listed::None;
        // A changed image file is said (imageChangedOnDisk) and boards keep getting the one in
        // memory until takeChangedImage(); otherwise it is read again and taken.
        bool lockImage = false;
        QString logFolder; // "" none: a file a day there, as well as or instead of `log`
        // The bench's slots, which name every record; with slots, a listed port no slot names
        // is not flashed unless flash() asks. Listed ports of adapters the station does not
        // take are never opened.
        Station station;
        QString tag;  // into every record: a batch, a work order, an operator
        JobStamp job; // the approved job every record names; none without one
        // A job's count: a board reserves one of it (by its record's ID) before its port is
        // opened, and settles it as it ends; none without a limit.
        std::function<bool(const QString &id, QString *why)> reserve;
        std::function<void(const QString &id, bool ok)> settle;
    };

    FlashRun(const Plan &plan, std::shared_ptr<const PaddedImage> image, QObject *parent = nullptr);
    ~FlashRun() override;

    // Starts the jobs (or the watch). False, with the reason, when the log cannot be opened:
    // nothing has started then.
    bool start(QString *why);
    // Ctrl-C, a closed window: every job ends at once, and the run with them.
    void interrupt();
    // A board on `port` now, whatever the watch says (an operator's Flash or Retry). False
    // when a job holds the port already, or the run has ended.
    bool flash(const QString &port);
    // The job on `port`, if any, ends as cancelled.
    void cancel(const QString &port);
    // Watching: whether boards that appear are flashed.
    void setAutoFlash(bool on);
    // The slots that name the boards from now on, and decide which listed ports are taken.
    void setStation(const Station &station);
    // A board's ID, typed or scanned: it belongs to the board on `port` now, or else to the next
    // board that starts there, and goes into that board's record alone, whatever its result.
    // Empty takes it back.
    void setBoardId(const QString &port, const QString &id);
    // The ID of the board on `port` now, or of the next one if none is being flashed there.
    QString boardIdOf(const QString &port) const;
    // With lockImage: the file as it was read at the last change becomes the image; false when
    // there is none.
    bool takeChangedImage();
    // The job on `port`, or on the device behind it under another name.
    FlashJob *jobOn(const QString &port) const;

    const QList<FlashJob *> &running() const { return m_running; }
    const ShiftTally &tally() const { return m_tally; }
    const QList<BoardRecord> &records() const { return m_records; }
    // The image boards are given now.
    const ImageRecord &image() const { return m_image.record(); }
    std::shared_ptr<const PaddedImage> paddedImage() const { return m_image.image(); }
    bool logFailed() const { return m_logFailed; }
    bool watching() const { return m_plan.watch; }
    const Station &station() const { return m_plan.station; }

signals:
    void jobStarted(FlashJob *job);
    // The job is deleted once control is back in the event loop.
    void jobFinished(FlashJob *job, const BoardRecord &board);
    void noPorts();
    // A listed port left alone, said once: its adapter is not one the station takes.
    void portIgnored(const QString &port, const QString &why);
    // With slots, a listed port no slot names, said once; flashed only by flash().
    void portUnassigned(const QString &port);
    void imageChanged(const ImageRecord &image);
    // With lockImage: the file changed; boards get the one in memory until takeChangedImage().
    void imageChangedOnDisk(const ImageRecord &image, const QDateTime &when);
    // Said once, until the image can be used again; no board starts meanwhile.
    void imageUnusable(const QString &why);
    // Said once: the run's status says it again.
    void logWriteFailed(const QString &why);
    // A board was not started: the job's count allows no more (said once, until one is given
    // back).
    void countRefused(const QString &why);
    // A finished board's record, as its line of the log was written (or would have been):
    // for the stores that keep it after the log.
    void recordWritten(const QByteArray &line);
    // A log's last line was left partial by an earlier failure: it was ended with a line break
    // before the first record of this run.
    void logLineEnded(const QString &file);
    // The last job is done and no more will start.
    void ended();

private:
    void startJob(const QString &port);
    // Whether a port the station sees may be flashed without asking; says why not, once.
    bool takes(const QString &port, bool named);
    void onFinished(FlashJob *job);
    void look();
    bool imageStillCurrent();
    QSerialPortInfo listedInfo(const QString &port);
    void endIfDone();

    Plan m_plan;
    ImageWatcher m_image;
    PortWatcher m_ports;
    QList<FlashJob *> m_running;
    QHash<FlashJob *, ImageRecord> m_jobImages; // the image each running job was given
    QHash<FlashJob *, QString> m_jobKeys;       // the device each running job is on
    QList<BoardRecord> m_records;
    ShiftTally m_tally;
    BoardLog m_log;
    BoardLog m_dailyLog;
    bool m_logFailed = false;
    bool m_imageUnusable = false;
    bool m_interrupted = false;
    bool m_ended = false;
    bool m_autoFlash = true;
    QHash<FlashJob *, QString> m_jobBoardIds; // the ID of each running job's board
    QHash<QString, QString> m_nextBoardIds;   // port's device -> the ID of its next board
    QHash<FlashJob *, QString> m_recordIds;   // each running job's record's own ID
    bool m_countRefusalSaid = false;
    QSet<QString> m_saidLeftAlone; // ports said ignored or unassigned
    QTimer m_lookTimer;            // watching: looks for ports that appeared or went
    // What the system lists of the ports, asked once for boards that end together: listing
    // the ports costs far more than a board's bookkeeping.
    QHash<QString, QSerialPortInfo> m_listed;
    QElapsedTimer m_sinceListed;
};
