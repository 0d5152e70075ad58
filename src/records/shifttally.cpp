#include "records/shifttally.h"

#include <algorithm>

void ShiftTally::add(const BoardRecord &board)
{
    constexpr int namedBoards = 20;
    if (board.result == BoardResult::Pending)
        return;
    ++m_counts[size_t(board.result)];
    if (board.result == BoardResult::Ok) {
        m_passedSeconds.insert(
            std::upper_bound(m_passedSeconds.begin(), m_passedSeconds.end(), board.seconds),
            board.seconds);
        m_longestTransfer = qMax(m_longestTransfer, board.transferSeconds);
    } else if (m_unpassedNames.size() < namedBoards) {
        m_unpassedNames << QStringLiteral("%1 (%2)").arg(boardLabel(board),
                                                         resultName(board.result));
    }
}

int ShiftTally::failed() const
{
    return count(BoardResult::Failed) + count(BoardResult::NotDetected) +
           count(BoardResult::PortError);
}

double ShiftTally::yield() const
{
    const int finished = passed() + failed();
    return finished > 0 ? double(passed()) / finished : 0;
}

double ShiftTally::boardsPerHour(qint64 elapsedMs) const
{
    return elapsedMs > 0 ? (passed() + failed()) * 3600000.0 / double(elapsedMs) : 0;
}

double ShiftTally::medianSeconds() const
{
    const qsizetype n = m_passedSeconds.size();
    if (n == 0)
        return 0;
    return n % 2 ? m_passedSeconds.at(n / 2)
                 : (m_passedSeconds.at(n / 2 - 1) + m_passedSeconds.at(n / 2)) / 2;
}
