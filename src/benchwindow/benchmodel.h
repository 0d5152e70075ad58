#pragma once

#include "engine/flash/flashjob.h"
#include "records/boardrecord.h"

#include <QAbstractTableModel>
#include <QList>
#include <QPointer>

// The bench's rows: one per port, in the order they were first seen, with the board on it now
// or the last one's result. The jobs' figures are copied in by refresh(), which the window calls
// four times a second, so that a bench of boards costs a redraw per tick, not per block.
class BenchModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column {
        Slot,
        SerialNumber,
        BoardId,
        Phase,
        Progress,
        Rate,
        TimeLeft,
        Resends,
        Result,
        Time,
        Columns
    };
    // Where a row stands, as the operator reads it.
    enum class State {
        Waiting,  // a board is there and was not flashed since it appeared
        Flashing, // a job runs on it
        Passed,   // its last board's result, while the board stays
        Failed,
        Cancelled,
        Absent, // nothing there now (unplugged); the last result stays shown, greyed
    };
    // A port the system lists, one given by name, or one whose presence cannot be seen (a
    // port on another machine): the last is always there to be flashed by hand.
    struct Port
    {
        QString name;
        QString serialNumber;
        bool usb = false;    // the system lists it with a vendor id
        bool watched = true; // its arrivals can be seen
        QString slot;        // its slot's name, unassignedSlot(), or "" without slots
        QString ignored;     // why the station leaves it alone; "" when it does not
        bool present = true; // there now; a named port that is not is a row all the same

        bool sameAs(const Port &other) const
        {
            return serialNumber == other.serialNumber && slot == other.slot &&
                   ignored == other.ignored;
        }
    };
    // The progress column's figures, for the delegate that draws the bar.
    static constexpr int ProgressRole = Qt::UserRole + 1; // 0..1000, -1 for no bar

    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // What the ports are now: the rows of those there, new rows for new ones; the others are
    // Absent. A port that comes back after being away has a new board: Waiting.
    void setPresent(const QList<Port> &ports);
    // A board starts on the job's port; `boardId` is its ID, if one was scanned for it.
    void jobStarted(FlashJob *job, const QString &boardId);
    void jobFinished(const BoardRecord &board);
    // Copies the running jobs' figures and says which rows changed.
    void refresh();

    int rowOf(const QString &port) const;
    QString port(int row) const { return m_rows.at(row).port.name; }
    const Port &portAt(int row) const { return m_rows.at(row).port; }
    State state(int row) const { return m_rows.at(row).state; }
    QString boardId(int row) const { return m_rows.at(row).boardId; }
    // The row's ID is for the next board there, not for one flashed or being flashed.
    bool boardIdIsNext(int row) const { return m_rows.at(row).boardIdIsNext; }
    QString message(int row) const { return m_rows.at(row).message; }
    bool isPresent(int row) const { return m_rows.at(row).present; }
    FlashJob::Phase phase(int row) const { return m_rows.at(row).phase; }
    double seconds(int row) const { return m_rows.at(row).seconds; }
    // Of the image sent, 0 to 1; the time left at the pace so far ("1:05 left"), or empty.
    double progress(int row) const;
    QString timeLeft(int row) const;

    // A board can be flashed by hand: none is being flashed there, and one is there (or the
    // port cannot say).
    bool canFlash(int row) const;
    // A failed or cancelled board, still there: Retry flashes it again.
    bool canRetry(int row) const;
    // Flash all waiting takes these.
    bool isWaiting(int row) const;
    // The ID of the board on the row now, or of the next one if none is being flashed. The row
    // shows a board's ID until the next board starts there.
    void setBoardId(int row, const QString &id);

private:
    struct Row
    {
        explicit Row(const Port &port) : port(port) {}

        Port port;
        bool present = true;
        State state = State::Waiting;
        QPointer<FlashJob> job;
        FlashJob::Phase phase = FlashJob::Phase::Opening;
        qint64 sent = 0;
        qint64 total = 0;
        double transferSeconds = 0;
        int resends = 0;
        double seconds = 0;
        QString message;
        QString boardId;
        bool boardIdIsNext = false;
        bool dirty = false;
    };
    QVariant display(const Row &row, int column) const;
    QVariant resultLook(const Row &row, int role) const;
    void changed(int row);

    QList<Row> m_rows;
};
