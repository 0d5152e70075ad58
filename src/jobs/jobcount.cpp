#include "jobs/jobcount.h"

#include "core/files/appendedfile.h"
#include "core/files/filelock.h"

#include <QDir>
#include <QFile>

JobCount::JobCount(const QString &journal, int limit) : m_journal(journal), m_limit(limit) {}

std::unique_ptr<JobCount> JobCount::open(const QString &folder, const Approval &approval,
                                         QString *why)
{
    if (approval.job.count <= 0)
        return nullptr;
    if (!QDir().mkpath(folder)) {
        *why = QStringLiteral("cannot make the folder %1").arg(folder);
        return nullptr;
    }
    // One journal a job file: a new approval of the job is a new count.
    const QString journal = QDir(folder).filePath(QStringLiteral("%1-v%2-%3.count")
                                                      .arg(approval.job.name)
                                                      .arg(approval.job.version)
                                                      .arg(approval.jobSha256.left(16)));
    files::AppendedFile file; // made, and any line a crash cut short ended
    if (!file.open(journal, why)) {
        *why = QStringLiteral("cannot keep the job's count in %1: %2").arg(journal, *why);
        return nullptr;
    }
    std::unique_ptr<JobCount> count(new JobCount(journal, approval.job.count));
    const files::FileLock lock(journal + QStringLiteral(".lock"));
    count->m_used = count->usedNow();
    return count;
}

int JobCount::usedNow() const
{
    // "+ ID" reserved, "= ID" kept (ok), "- ID" given back.
    QFile file(m_journal);
    if (!file.open(QIODevice::ReadOnly))
        return m_limit; // unreadable: nothing more is given out
    int used = 0;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.startsWith("+ "))
            ++used;
        else if (line.startsWith("- "))
            --used;
    }
    return used;
}

bool JobCount::reserve(const QString &id, QString *why)
{
    const files::FileLock lock(m_journal + QStringLiteral(".lock"));
    if (!lock.isLocked()) {
        *why = QStringLiteral("cannot lock the job's count: %1").arg(lock.error());
        return false;
    }
    m_used = usedNow();
    if (m_used >= m_limit) {
        *why = QStringLiteral("the job's count is used up: %1 of %1 boards").arg(m_limit);
        return false;
    }
    files::AppendedFile file;
    if (!file.open(m_journal, why) || !file.append("+ " + id.toUtf8() + '\n', why)) {
        *why = QStringLiteral("cannot write the job's count: %1").arg(*why);
        return false;
    }
    ++m_used;
    return true;
}

void JobCount::settle(const QString &id, bool ok)
{
    const files::FileLock lock(m_journal + QStringLiteral(".lock"));
    files::AppendedFile file;
    QString why;
    // A board that failed gives its count back; if that cannot be written, it stays used.
    if (file.open(m_journal, &why))
        file.append((ok ? "= " : "- ") + id.toUtf8() + '\n', &why);
    m_used = usedNow();
}
