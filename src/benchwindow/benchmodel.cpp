#include "benchwindow/benchmodel.h"

#include "engine/flash/jobtext.h"

#include <QApplication>
#include <QBrush>
#include <QIcon>
#include <QPalette>
#include <QStyle>

#include <cmath>

namespace {

// Readable on the window's own base colour, light or dark.
QColor tone(QColor onLight, QColor onDark)
{
    return QApplication::palette().color(QPalette::Base).lightness() > 128 ? onLight : onDark;
}

} // namespace

int BenchModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int BenchModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : Columns;
}

QVariant BenchModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const char *const names[Columns] = {"Slot",     "Serial number", "Board ID", "Phase",
                                               "Progress", "Rate",          "Left",     "Resends",
                                               "Result",   "Time"};
    return tr(names[section]);
}

QVariant BenchModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const Row &row = m_rows.at(index.row());
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
        return display(row, column);
    case ProgressRole:
        return row.total > 0 ? int(row.sent * 1000 / row.total) : -1;
    case Qt::ToolTipRole:
        if (column == Slot) // the port a slot's name stands for
            return row.port.slot.isEmpty() ? QVariant() : QVariant(row.port.name);
        if (column == Result || column == Phase)
            return row.message.isEmpty() ? QVariant() : QVariant(row.message);
        return {};
    case Qt::DecorationRole:
    case Qt::ForegroundRole:
        if (!row.port.ignored.isEmpty()) // a port the station leaves alone: greyed, no icon
            return role == Qt::ForegroundRole
                       ? QVariant(QApplication::palette().brush(QPalette::Disabled, QPalette::Text))
                       : QVariant();
        if (column == Result)
            return resultLook(row, role);
        if (role == Qt::ForegroundRole && !row.present)
            return QApplication::palette().brush(QPalette::Disabled, QPalette::Text);
        return {};
    case Qt::TextAlignmentRole:
        if (column == Resends || column == Time || column == Rate || column == TimeLeft)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        return {};
    case Qt::AccessibleTextRole:
        return display(row, column);
    default:
        return {};
    }
}

QVariant BenchModel::display(const Row &row, int column) const
{
    const bool running = row.state == State::Flashing;
    const double rate = running ? transferRate(row.sent, row.transferSeconds) : 0;
    switch (column) {
    case Slot:
        return boardLabel(row.port.slot, row.port.name);
    case SerialNumber:
        return row.port.serialNumber;
    case BoardId:
        return row.boardId;
    case Phase:
        if (!row.present)
            return tr("unplugged");
        if (running)
            return phaseName(row.phase);
        if (row.state == State::Waiting)
            return tr("waiting");
        return phaseName(row.state == State::Passed ? FlashJob::Phase::Done
                                                    : FlashJob::Phase::Failed);
    case Progress:
        return row.total > 0 ? QStringLiteral("%1%").arg(row.sent * 100 / row.total) : QString();
    case Rate:
        return rate > 0 ? bytesPerSecondText(rate) : QString();
    case TimeLeft:
        return timeLeftText(row.sent, row.total, rate);
    case Resends:
        return row.state == State::Waiting ? QString() : QString::number(row.resends);
    case Result:
        if (!row.port.ignored.isEmpty())
            return tr("Ignored: %1").arg(row.port.ignored);
        switch (row.state) {
        case State::Passed:
            return tr("Passed");
        case State::Failed:
            return tr("Failed: %1").arg(row.message);
        case State::Cancelled:
            return tr("Cancelled");
        case State::Flashing:
            return tr("Flashing");
        case State::Waiting:
        case State::Absent:
            return QString();
        }
        return {};
    case Time:
        return row.seconds > 0 ? QStringLiteral("%1 s").arg(row.seconds, 0, 'f', 1) : QString();
    default:
        return {};
    }
}

QVariant BenchModel::resultLook(const Row &row, int role) const
{
    // A word and an icon as well as a colour: never the colour alone.
    QStyle *style = QApplication::style();
    switch (row.state) {
    case State::Passed:
        return role == Qt::DecorationRole
                   ? QVariant(style->standardIcon(QStyle::SP_DialogApplyButton))
                   : QVariant(tone(QColor(0x1b, 0x6e, 0x2a), QColor(0x7c, 0xd9, 0x8a)));
    case State::Failed:
        return role == Qt::DecorationRole
                   ? QVariant(style->standardIcon(QStyle::SP_MessageBoxCritical))
                   : QVariant(tone(QColor(0xb0, 0x1c, 0x1c), QColor(0xff, 0x8a, 0x80)));
    case State::Cancelled:
        return role == Qt::DecorationRole ? QVariant(style->standardIcon(QStyle::SP_BrowserStop))
                                          : QVariant();
    default:
        return {};
    }
}

void BenchModel::setPresent(const QList<Port> &ports)
{
    QList<bool> seen(m_rows.size(), false);
    for (const Port &port : ports) {
        int at = rowOf(port.name);
        if (at < 0) {
            beginInsertRows({}, int(m_rows.size()), int(m_rows.size()));
            m_rows.append(Row(port));
            if (!port.present) { // named, and not there yet
                m_rows.last().present = false;
                m_rows.last().state = State::Absent;
            }
            seen.append(port.present);
            endInsertRows();
            continue;
        }
        if (!port.present)
            continue;
        seen[at] = true;
        Row &row = m_rows[at];
        if (!row.present) { // a board plugged in: the last one's result goes, and its ID
            const QString boardId = row.boardIdIsNext ? row.boardId : QString();
            row = Row(port);
            row.boardId = boardId;
            row.boardIdIsNext = !boardId.isEmpty();
            changed(at);
        } else if (!row.port.sameAs(port)) {
            row.port = port;
            changed(at);
        }
    }
    for (int at = 0; at < m_rows.size(); ++at) {
        Row &row = m_rows[at];
        if (seen.at(at) || !row.present || row.state == State::Flashing)
            continue; // a job in progress says itself when its port went
        row.present = false;
        if (row.state == State::Waiting)
            row.state = State::Absent;
        changed(at);
    }
}

void BenchModel::jobStarted(FlashJob *job, const QString &boardId)
{
    int at = rowOf(job->port());
    if (at < 0) { // flashed by name before any look saw it
        at = int(m_rows.size());
        beginInsertRows({}, at, at);
        Port port;
        port.name = job->port();
        m_rows.append(Row(port));
        endInsertRows();
    }
    Row &row = m_rows[at];
    row = Row(row.port);
    row.boardId = boardId; // the board's own, or none: never the last board's
    row.state = State::Flashing;
    row.job = job;
    row.total = job->imageSize();
    changed(at);
}

void BenchModel::jobFinished(const BoardRecord &board)
{
    const int at = rowOf(board.port);
    if (at < 0)
        return;
    Row &row = m_rows[at];
    row.job = nullptr;
    row.state = board.result == BoardResult::Ok          ? State::Passed
                : board.result == BoardResult::Cancelled ? State::Cancelled
                                                         : State::Failed;
    row.sent = board.bytesSent;
    row.resends = board.resends;
    row.seconds = board.seconds;
    row.message = board.message;
    row.boardId = board.boardId; // shown until the next board starts
    row.boardIdIsNext = false;
    changed(at);
}

void BenchModel::refresh()
{
    int first = -1;
    int last = -1;
    for (int at = 0; at < m_rows.size(); ++at) {
        Row &row = m_rows[at];
        if (row.job) {
            const FlashJob &job = *row.job;
            // The time runs while a board is waited for too, a tenth at a time.
            const double seconds = std::floor(job.seconds() * 10) / 10;
            if (job.bytesSent() != row.sent || job.phase() != row.phase ||
                job.resends() != row.resends || job.phase() == FlashJob::Phase::Sending ||
                seconds != row.seconds) {
                row.sent = job.bytesSent();
                row.phase = job.phase();
                row.resends = job.resends();
                row.transferSeconds = job.transferSeconds();
                row.seconds = seconds;
                row.dirty = true;
            }
        }
        if (!row.dirty)
            continue;
        row.dirty = false;
        first = first < 0 ? at : first;
        last = at;
    }
    // The slot, serial number and ID stay as they are while a board is flashed.
    if (first >= 0)
        emit dataChanged(index(first, Phase), index(last, Columns - 1));
}

void BenchModel::changed(int row)
{
    m_rows[row].dirty = true;
    emit dataChanged(index(row, 0), index(row, Slot + 2)); // the ID, and a new port's names
}

int BenchModel::rowOf(const QString &port) const
{
    for (int at = 0; at < m_rows.size(); ++at)
        if (m_rows.at(at).port.name == port)
            return at;
    return -1;
}

double BenchModel::progress(int row) const
{
    const Row &r = m_rows.at(row);
    return r.total > 0 ? double(r.sent) / double(r.total) : 0;
}

QString BenchModel::timeLeft(int row) const
{
    const Row &r = m_rows.at(row);
    return timeLeftText(r.sent, r.total, transferRate(r.sent, r.transferSeconds));
}

bool BenchModel::canFlash(int row) const
{
    const Row &r = m_rows.at(row);
    return r.state != State::Flashing && (r.present || !r.port.watched) && r.port.ignored.isEmpty();
}

bool BenchModel::canRetry(int row) const
{
    const State s = m_rows.at(row).state;
    return (s == State::Failed || s == State::Cancelled) && canFlash(row);
}

bool BenchModel::isWaiting(int row) const
{
    return m_rows.at(row).state == State::Waiting && canFlash(row);
}

void BenchModel::setBoardId(int row, const QString &id)
{
    m_rows[row].boardId = id;
    m_rows[row].boardIdIsNext = m_rows.at(row).state != State::Flashing;
    changed(row);
}
