#pragma once

#include <QByteArray>
#include <QDate>
#include <QFile>
#include <QString>

// The JSON Lines log of a shift: one line per finished board, appended, and on the disk before
// the next board starts, so that a kill, a crash or a power cut loses at most the boards still
// in progress.
class BoardLog
{
public:
    // Opens `path` for appending; false with the reason when it cannot.
    bool open(const QString &path, QString *why);
    // A file a day in `folder` (made when missing), boards-YYYY-MM-DD.jsonl, each line in the
    // file of the day it is written.
    bool openDaily(const QString &folder, QString *why);
    QString fileName() const { return m_file.fileName(); }
    // Where every program's daily files go unless told otherwise: the user's data folder,
    // one for all of them, so that a day's boards are in one file whatever flashed them.
    static QString dailyFolder();
    bool isOpen() const { return m_file.isOpen(); }
    // Appends and syncs one line; false with the reason when it did not all reach the disk.
    bool append(const QByteArray &line, QString *why);

private:
    // To the disk, not just the system's cache (boardlog_unix.cpp, boardlog_win.cpp).
    bool syncToDisk();

    QFile m_file;
    QString m_folder; // daily: where the files are
    QDate m_day;      // daily: the day of the open file
};
