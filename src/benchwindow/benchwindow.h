#pragma once

#include "benchwindow/benchmodel.h"
#include "benchwindow/progressdelegate.h"
#include "benchwindow/shiftcounters.h"
#include "core/image/firmwareimage.h"
#include "engine/flash/station.h"
#include "metrics/metricspublisher.h"
#include "records/boardrecord.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>

#include <filesystem>
#include <memory>

class FlashJob;
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
    // What the command line gave: ports the system does not list (pseudo-terminals, ports on
    // other machines) and the records file ("" for one a day in recordsFolder()).
    struct Given
    {
        Given(const QStringList &ports = {}, const QString &log = {}) : ports(ports), log(log) {}

        QStringList ports;
        QString log;
        QString slotsFile; // "" none yet
        Station station;   // the slot file's, and the adapters taken
        QString tag;       // into every record
        MetricsTargets metrics;
    };

    explicit BenchWindow(const Given &given, QWidget *parent = nullptr);
    ~BenchWindow() override;

    // Reads the image and shows what it is; false (and said) when it cannot be used.
    bool chooseImage(const QString &path);
    // Locks the chosen image and flashes boards as they come; false (and said) when it cannot
    // start.
    bool startShift();
    // Stops the boards in progress, recorded as cancelled, after asking when `ask`; false when
    // the operator keeps the shift.
    bool endShift(bool ask = true);
    bool inShift() const { return m_run != nullptr; }
    // Serves or writes the metrics the command line asked for; false with the reason.
    bool startMetrics(QString *why);
    const Station &station() const { return m_given.station; }
    // The slot editor, fed the ports as the window sees them; its saved slots are taken.
    void editSlots();

    BenchModel &model() { return m_model; }
    const ShiftCounters &counters() const { return m_counters; }
    // Where the records go: the file given, or today's in recordsFolder().
    QString recordsFile() const;
    static QString recordsFolder();
    // The port names the table holds the rows of, as it looks at the ports once a second.
    void lookAtPorts();

protected:
    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
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
    Given m_given;
    BenchModel m_model;
    ProgressDelegate m_delegate;
    ShiftCounters m_counters;
    std::unique_ptr<FlashRun> m_run;
    MetricsPublisher m_metrics;
    QPointer<SlotEditor> m_slotEditor;
    QStringList m_presentPorts; // at the last look

    QString m_imagePath; // as chosen
    std::filesystem::path m_imageFile;
    std::shared_ptr<const PaddedImage> m_image;
    ImageRecord m_imageRecord;
    QDateTime m_imageModified;

    QDateTime m_shiftStarted;
    QElapsedTimer m_shiftClock;
    QTimer m_lookTimer; // the ports, once a second
    QTimer m_viewTimer; // the rows and counters, four times a second
};
