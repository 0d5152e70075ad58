#pragma once

#include "records/boardrecord.h"

#include <QList>

// A shift's figures as the bench window shows them: boards passed and failed, the yield, the
// pace, the median time a passed board took. Cancelled boards (stopped by the operator or the
// end of the shift) are neither.
class ShiftCounters
{
public:
    void add(const BoardRecord &board);

    int passed() const { return m_passed; }
    int failed() const { return m_failed; }
    int cancelled() const { return m_cancelled; }
    // Passed of those that passed or failed; 0 before the first.
    double yield() const;
    // Boards that passed or failed per hour over `elapsedMs` of the shift.
    double boardsPerHour(qint64 elapsedMs) const;
    // The median of the passed boards' times, in seconds; 0 before the first.
    double medianSeconds() const;

private:
    int m_passed = 0;
    int m_failed = 0;
    int m_cancelled = 0;
    QList<double> m_passedSeconds; // kept sorted
};
