#include "records/boardlog.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

bool BoardLog::open(const QString &path, QString *why)
{
    return m_file.open(path, why);
}

bool BoardLog::openDaily(const QString &folder, QString *why)
{
    if (!QDir().mkpath(folder)) {
        *why = QStringLiteral("cannot make the folder %1").arg(folder);
        return false;
    }
    m_folder = folder;
    m_day = QDate::currentDate();
    return open(dailyFile(folder, m_day), why);
}

QString BoardLog::dailyFile(const QString &folder, const QDate &day)
{
    return QDir(folder).filePath(QStringLiteral("boards-%1.jsonl").arg(day.toString(Qt::ISODate)));
}

QStringList BoardLog::dailyFiles(const QString &folder)
{
    QStringList files;
    const QFileInfoList found =
        QDir(folder).entryInfoList({QStringLiteral("boards-*.jsonl")}, QDir::Files, QDir::Name);
    for (const QFileInfo &file : found)
        files << file.absoluteFilePath();
    return files;
}

bool BoardLog::append(const QByteArray &line, QString *why)
{
    if (!m_folder.isEmpty() && m_day != QDate::currentDate() && !openDaily(m_folder, why))
        return false;
    return m_file.append(line, why);
}

QString BoardLog::dailyFolder()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
        .filePath(QStringLiteral("Brivox/vantyx-records"));
}
