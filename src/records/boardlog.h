#pragma once

#include "core/files/appendedfile.h"

#include <QByteArray>
#include <QDate>
#include <QString>
#include <QStringList>

// The JSON Lines log of a shift: one line per finished board, appended whole, and on the disk
// before the next board starts, so that a kill, a crash or a power cut loses at most the boards
// still in progress. A line left partial by an earlier failure is ended first, so that the
// file stays one record a line.
class BoardLog
{
public:
    // Opens `path` for appending; false with the reason when it cannot.
    bool open(const QString &path, QString *why);
    // A file a day in `folder` (made when missing), dailyFile(), each line in the file of the
    // day it is written.
    bool openDaily(const QString &folder, QString *why);
    QString fileName() const { return m_file.name(); }
    // Where every program's daily files go unless told otherwise: the user's data folder,
    // one for all of them, so that a day's boards are in one file whatever flashed them.
    static QString dailyFolder();
    // The day's file in `folder`: boards-YYYY-MM-DD.jsonl.
    static QString dailyFile(const QString &folder, const QDate &day = QDate::currentDate());
    // The daily files in `folder`, oldest first.
    static QStringList dailyFiles(const QString &folder);
    bool isOpen() const { return m_file.isOpen(); }
    // Appends and syncs one line; false with the system's reason when it did not all reach the
    // disk (nothing of it is left then, or its half is ended before the next line).
    bool append(const QByteArray &line, QString *why);
    // Partial lines of earlier failures ended with a line break since the file was opened.
    int partialLinesEnded() const { return m_file.partialLinesEnded(); }

private:
    files::AppendedFile m_file;
    QString m_folder; // daily: where the files are
    QDate m_day;      // daily: the day of the open file
};
