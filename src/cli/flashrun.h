#pragma once

#include "cli/boardlog.h"
#include "cli/options.h"
#include "cli/report.h"
#include "protocol/firmwareimage.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QTimer>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>

class FlashJob;

// What says an image file may have changed: its size and modification time.
struct ImageStamp
{
    std::uintmax_t size = 0;
    std::filesystem::file_time_type modified;
    bool operator==(const ImageStamp &other) const
    {
        return size == other.size && modified == other.modified;
    }
    bool operator!=(const ImageStamp &other) const { return !(*this == other); }
    // Nullopt when the file cannot be looked at.
    static std::optional<ImageStamp> of(const std::filesystem::path &file);
};

// vantyx-flash's run: a job per port on one event loop, what it prints while they go, and the
// summary, the JSON document and the exit status at the end.
class FlashRun : public QObject
{
    Q_OBJECT

public:
    FlashRun(const FlashOptions &options, std::shared_ptr<const PaddedImage> image,
             QObject *parent = nullptr);

    // Starts the jobs (or the watch); the application's exit() gets the status at the end.
    // False, with the reason said, when the log cannot be opened: nothing has started.
    bool start();
    // Ctrl-C: every job ends at once, and the run with them.
    void interrupt();

signals:
    // The summary and the report are out; exit() with the status follows.
    void ended();

private:
    void startJob(const QString &port);
    void onPhaseChanged(FlashJob *job);
    void onProgressed(FlashJob *job);
    void onFinished(FlashJob *job);
    void scanPorts();
    bool imageStillCurrent();
    QSerialPortInfo listedInfo(const QString &port);
    void markDirty();
    void draw();
    void print(std::FILE *stream, const QString &line);
    void finishRun();

    FlashOptions m_options;
    std::shared_ptr<const PaddedImage> m_image;
    std::FILE *m_human; // standard output, or standard error when the JSON goes there
    bool m_live;        // a terminal: lines redrawn in place
    int m_portWidth = 12;

    QList<FlashJob *> m_running;
    QList<BoardReport> m_finished; // only for --json: a --watch shift keeps the tally alone
    Tally m_tally;
    ImageReport m_imageReport;
    BoardLog m_log;
    bool m_logFailed = false;
    bool m_imageUnusable = false;
    bool m_latencySaid = false;
    bool m_interrupted = false;
    bool m_ended = false;

    QTimer m_scanTimer;                    // --watch: looks for ports that appeared or went
    QSet<QString> m_present;               // ports seen at the last look
    QHash<QString, QString> m_flashedNode; // the device node each port's last job started on
    QHash<FlashJob *, int> m_printedTenths;
    QHash<FlashJob *, ImageReport> m_jobImages; // the image each running job was given
    ImageStamp m_imageStamp;                    // the image as it was when last read
    // What the system lists of the ports, asked once for boards that end together: listing
    // the ports costs far more than a board's bookkeeping.
    QHash<QString, QSerialPortInfo> m_listed;
    QElapsedTimer m_sinceListed;
    QStringList m_pendingLines;
    QStringList m_pendingErrors;
    QTimer m_drawTimer;
    QElapsedTimer m_sinceDraw;
    QList<int> m_drawnLengths; // of the live lines on the terminal now
};
