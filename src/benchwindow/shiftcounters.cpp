#include "benchwindow/shiftcounters.h"

#include <algorithm>

void ShiftCounters::add(const BoardRecord &board)
{
    switch (board.result) {
    case BoardResult::Ok:
        ++m_passed;
        m_passedSeconds.insert(
            std::upper_bound(m_passedSeconds.begin(), m_passedSeconds.end(), board.seconds),
            board.seconds);
        return;
    case BoardResult::Cancelled:
        ++m_cancelled;
        return;
    case BoardResult::Pending:
        return;
    default:
        ++m_failed;
        return;
    }
}

double ShiftCounters::yield() const
{
    const int finished = m_passed + m_failed;
    return finished > 0 ? double(m_passed) / finished : 0;
}

double ShiftCounters::boardsPerHour(qint64 elapsedMs) const
{
    return elapsedMs > 0 ? (m_passed + m_failed) * 3600000.0 / double(elapsedMs) : 0;
}

double ShiftCounters::medianSeconds() const
{
    const qsizetype n = m_passedSeconds.size();
    if (n == 0)
        return 0;
    return n % 2 ? m_passedSeconds.at(n / 2)
                 : (m_passedSeconds.at(n / 2 - 1) + m_passedSeconds.at(n / 2)) / 2;
}
