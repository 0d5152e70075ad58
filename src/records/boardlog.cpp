#include "records/boardlog.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

bool BoardLog::open(const QString &path, QString *why)
{
    m_file.setFileName(path);
    // A device (a terminal, /dev/null) has no end to append at.
    const QFileInfo target(path);
    const bool device = target.exists() && !target.isFile();
    if (m_file.open(device ? QIODevice::WriteOnly : QIODevice::WriteOnly | QIODevice::Append))
        return true;
    *why = m_file.errorString();
    return false;
}

bool BoardLog::openDaily(const QString &folder, QString *why)
{
    if (!QDir().mkpath(folder)) {
        *why = QStringLiteral("cannot make the folder %1").arg(folder);
        return false;
    }
    m_folder = folder;
    m_day = QDate::currentDate();
    m_file.close();
    return open(
        QDir(folder).filePath(QStringLiteral("boards-%1.jsonl").arg(m_day.toString(Qt::ISODate))),
        why);
}

bool BoardLog::append(const QByteArray &line, QString *why)
{
    if (!m_folder.isEmpty() && m_day != QDate::currentDate() && !openDaily(m_folder, why))
        return false;
    if (m_file.write(line) == line.size() && m_file.flush() && syncToDisk())
        return true;
    *why = m_file.errorString();
    return false;
}

QString BoardLog::dailyFolder()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
        .filePath(QStringLiteral("Brivox/vantyx-records"));
}
