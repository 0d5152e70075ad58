#pragma once

#include "jobs/approval.h"

#include <QString>

#include <memory>

// A job's count on this station: at most the limit's boards end ok under it, whatever the
// crashes. Each board reserves one before its port opens, and settles it as it ends: an ok board
// keeps it, a failed or cancelled one gives it back. Reservations are lines of a journal on the
// disk, synced before the board starts, and one left open by a killed program counts as used:
// a crash may cost a few counts, never add one. Shared between the station's programs under a
// lock.
class JobCount
{
public:
    // The count of `approval`'s job in `folder`; none (with why) when the job has no limit or
    // its journal cannot be opened.
    static std::unique_ptr<JobCount> open(const QString &folder, const Approval &approval,
                                          QString *why);

    int limit() const { return m_limit; }
    // One of the count for the board `id`; false, with why, when none is left or it cannot be
    // written down.
    bool reserve(const QString &id, QString *why);
    void settle(const QString &id, bool ok);
    // What is left, as the journal said at the last reservation or settlement.
    int remaining() const { return m_limit - m_used; }

private:
    JobCount(const QString &journal, int limit);
    // Counts the journal under the lock: reserved and not given back.
    int usedNow() const;

    QString m_journal;
    int m_limit = 0;
    int m_used = 0;
};
