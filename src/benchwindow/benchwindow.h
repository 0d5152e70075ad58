#pragma once

#include "benchwindow/benchmodel.h"
#include "benchwindow/progressdelegate.h"
#include "core/image/firmwareimage.h"
#include "core/image/imagefile.h"
#include "metrics/metricspublisher.h"
#include "records/boardrecord.h"
#include "records/shifttally.h"
#include "station/stationjob.h"
#include "station/stationoptions.h"
#include "station/stationrecords.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>

#include <filesystem>
#include <memory>
#include <optional>

class FlashJob;
class QLabel;
class FlashRun;
class SlotEditor;

QT_BEGIN_NAMESPACE
class Ui_BenchWindow;
QT_END_NAMESPACE

// vantyx-bench's window: every board on the line in one table, flashed as it is plugged in, a
// shift's counters at the top, every board recorded.
class BenchWindow : public QMainWindow
{
    Q_OBJECT

public:
    // What the command line gave (as vantyx-flash reads it): ports the system does not list
    // (pseudo-terminals, ports on other machines), the records file ("" for one a day in
    // recordsFolder()), the slots, the tag, the metrics, the limits.
    explicit BenchWindow(const StationOptions &options, QWidget *parent = nullptr);
    ~BenchWindow() override;

    // Reads the image once it is whole on the disk and shows what it is; false when it cannot
    // be used (and said), or while it is still being written (said in the window, and read
    // when whole; with `thenStart` the shift starts then).
    bool chooseImage(const QString &path, bool thenStart = false);
    bool waitingForImage() const { return m_imageSettling != nullptr; }
    // A job the station was given and refused: said in a box and in the window, and no shift
    // starts.
    void refuseJob(const QString &why);
    // Locks the chosen image and flashes boards as they come; false (and said) when it cannot
    // start, or while the image is being written (it starts once the image is whole).
    bool startShift();
    // Stops the boards in progress, recorded as cancelled, after asking when `ask`; false when
    // the operator keeps the shift.
    bool endShift(bool ask = true);
    bool inShift() const { return m_run != nullptr; }
    // Serves or writes the metrics the command line asked for; false with the reason.
    bool startMetrics(QString *why);
    const Station &station() const { return m_options.station; }
    // The slot editor, fed the ports as the window sees them; its saved slots are taken.
    void editSlots();

    BenchModel &model() { return m_model; }
    const ShiftTally &counters() const { return m_counters; }
    // Where the records go: the file given, or today's in recordsFolder().
    QString recordsFile() const;
    static QString recordsFolder();
    // The port names the table holds the rows of, as it looks at the ports once a second.
    void lookAtPorts();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    // The window's place: the screen's available area at the first start, else the place
    // saved, kept inside the screen.
    void fitScreen(const QByteArray &saved);
    // The wall or the table, as View says.
    void showView();
    void applyColours(bool dark);
    // A failure or a changed image: the system's sound, when the operator asked for it.
    void attention();
    void flashOrRetry(const QModelIndex &index);
    // The slots the shift's rows and records are named by from now on.
    void takeSlots(const Station &station, const QString &file);
    void applyNewSlots();
    // Looks at the image being chosen; reads it once whole. True when it was read now.
    bool lookAtChosenImage();
    // The shift on the image read: false (and said) when its records cannot be opened.
    bool beginShift();
    void browse();
    void toggleShift();
    void refreshView();
    void showCounters();
    void onJobFinished(const BoardRecord &board);
    void onImageChangedOnDisk(const QDateTime &when);
    void loadNewImage();
    void showImage(const ImageRecord &image);
    void flashRows(const QList<int> &rows);
    void flashSelected();
    void flashAllWaiting();
    void stopSelected();
    void retrySelected();
    void assignBoardId();
    void openRecordsFolder();
    void updateActions();
    void applyRowFilter();
    void showWhere();
    // The given ports and the slots' ports, once each.
    QStringList namedPorts() const;
    QList<int> selectedRows() const;
    void saveSettings() const;
    void refuse(const QString &what, const QString &why);

    Ui_BenchWindow *ui;
    StationOptions m_options;
    BenchModel m_model;
    ProgressDelegate m_delegate;
    ShiftTally m_counters;
    std::unique_ptr<FlashRun> m_run;
    MetricsPublisher m_metrics;
    QPointer<SlotEditor> m_slotEditor;
    std::optional<Station> m_pendingStation; // saved by Name slots, not yet applied
    QString m_pendingSlotsFile;
    bool m_darkApplied = false;
    StationJob m_job;         // the shift's approved job, its count
    StationRecords m_records; // the station's store, and the line's
    bool m_recordsOpen = false;
    QLabel *m_unsentLabel = nullptr;
    bool m_jobRefused = false;
    QStringList m_presentPorts; // at the last look

    QString m_imagePath; // as chosen
    std::filesystem::path m_imageFile;
    // The image chosen while it is still being written: looked at until it is whole.
    std::unique_ptr<ImageSettling> m_imageSettling;
    QString m_settlingPath;
    bool m_startWhenRead = false;
    QTimer m_imageTimer;
    std::shared_ptr<const PaddedImage> m_image;
    ImageRecord m_imageRecord;
    QDateTime m_imageModified;

    QDateTime m_shiftStarted;
    QElapsedTimer m_shiftClock;
    QTimer m_lookTimer; // the ports, once a second
    QTimer m_viewTimer; // the rows and counters, four times a second
};
