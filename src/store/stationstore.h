#pragma once

#include <QByteArray>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

// The station's own store: every board's record in an SQLite database beside the daily files
// (WAL, each record synced), after its JSON Lines line, which stays the plain-text source of
// truth. What the line's store has not taken yet waits in its outbox. Lines a crash left in a
// JSON Lines file and not here are read in at the next start, from where each file was last
// read, so that the two never part.
class StationStore
{
public:
    StationStore() = default;
    ~StationStore();
    StationStore(const StationStore &) = delete;
    StationStore &operator=(const StationStore &) = delete;

    // records.sqlite in the folder of the daily files.
    static QString defaultPath();
    bool open(const QString &path, QString *why);
    QString path() const { return m_path; }
    // Adds a record's line; with `forward`, queued for the line's store too. False with why.
    bool add(const QByteArray &line, bool forward, QString *why);
    // Reads in the lines of `files` this store has not read, from where it last read each;
    // how many records were new, or -1 with why.
    int catchUp(const QStringList &files, bool forward, QString *why);
    // Records waiting for the line's store.
    int unsent() const;
    QSqlDatabase database() const;

private:
    QString m_connection;
    QString m_path;
};
