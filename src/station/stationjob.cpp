#include "station/stationjob.h"

bool StationJob::begin(const StationOptions &options, FlashRun::Plan *plan, QString *why)
{
    m_approval = options.approval;
    if (!m_approval)
        return true;
    const QString folder = jobStateFolder();
    if (!rememberVersion(folder, *m_approval, why))
        return false;
    plan->job = m_approval->stamp();
    // The job's image is held for the shift: a file changed on disk is said, never taken.
    plan->lockImage = true;
    m_count = JobCount::open(folder, *m_approval, why);
    if (!m_count && m_approval->job.count > 0)
        return false;
    if (m_count) {
        std::shared_ptr<JobCount> count = m_count;
        plan->reserve = [count](const QString &id, QString *reason) {
            return count->reserve(id, reason);
        };
        plan->settle = [count](const QString &id, bool ok) { count->settle(id, ok); };
    }
    return true;
}

QString StationJob::text() const
{
    if (!m_approval)
        return QString();
    QString text = QStringLiteral("job %1 v%2 (key %3)")
                       .arg(m_approval->job.name)
                       .arg(m_approval->job.version)
                       .arg(m_approval->keyId);
    if (m_approval->allowOlder)
        text += QStringLiteral(", older than one this station ran");
    if (m_count)
        text += QStringLiteral(": %1 of %2 left").arg(m_count->remaining()).arg(m_count->limit());
    return text;
}
