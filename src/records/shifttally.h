#pragma once

#include "records/boardrecord.h"

#include <QList>
#include <QStringList>

#include <array>

// A shift's boards by result, without keeping every board (a shift may see thousands): the one
// count that vantyx-flash's summary, the bench's counters and the metrics all read. A cancelled
// board (stopped by the operator, by Ctrl-C or by the end of the shift) is neither passed nor
// failed: it is counted apart, and the yield leaves it out, as the README's PromQL does.
class ShiftTally
{
public:
    void add(const BoardRecord &board);

    int count(BoardResult result) const { return m_counts.at(size_t(result)); }
    int passed() const { return count(BoardResult::Ok); }
    // Failed, not detected or a port error: the board did not get its image.
    int failed() const;
    int cancelled() const { return count(BoardResult::Cancelled); }
    // Passed of those that passed or failed; 0 before the first.
    double yield() const;
    // Boards that passed or failed an hour over `elapsedMs` of the shift.
    double boardsPerHour(qint64 elapsedMs) const;
    // The passed boards' times: the median, and the longest transfer apart from the settling.
    double medianSeconds() const;
    double longestTransfer() const { return m_longestTransfer; }
    // "LABEL (result)" of the first boards that did not pass, cancelled ones among them.
    const QStringList &unpassedNames() const { return m_unpassedNames; }
    int unpassed() const { return failed() + cancelled(); }

private:
    std::array<int, 6> m_counts{}; // by BoardResult
    QList<double> m_passedSeconds; // kept sorted
    double m_longestTransfer = 0;
    QStringList m_unpassedNames;
};
