#include "store/stationstore.h"

#include "records/boardlog.h"
#include "store/recordrow.h"
#include "store/storeschema.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

namespace {

// Adds `row` and, with `forward`, its ID to the outbox; in the caller's transaction. `added`
// says whether the row was new.
bool insert(QSqlDatabase &database, const QVariantList &row, bool forward, QString *why,
            bool *added = nullptr)
{
    QSqlQuery query(database);
    query.prepare(storeschema::insertStatement());
    for (const QVariant &value : row)
        query.addBindValue(value);
    if (!query.exec()) {
        *why = query.lastError().text();
        return false;
    }
    const bool isNew = query.numRowsAffected() > 0;
    if (added)
        *added = isNew;
    if (!forward || !isNew)
        return true; // held already: it was queued when it came
    QSqlQuery queued(database);
    queued.prepare(
        QStringLiteral("INSERT INTO outbox (id) VALUES (?) ON CONFLICT (id) DO NOTHING"));
    queued.addBindValue(row.first());
    if (!queued.exec()) {
        *why = queued.lastError().text();
        return false;
    }
    return true;
}

} // namespace

StationStore::~StationStore()
{
    if (m_connection.isEmpty())
        return;
    QSqlDatabase::database(m_connection, false).close();
    QSqlDatabase::removeDatabase(m_connection);
}

QString StationStore::defaultPath()
{
    return QDir(BoardLog::dailyFolder()).filePath(QStringLiteral("records.sqlite"));
}

QSqlDatabase StationStore::database() const
{
    return QSqlDatabase::database(m_connection, false);
}

bool StationStore::open(const QString &path, QString *why)
{
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE"))) {
        *why = QStringLiteral("this build has no database driver (Qt's SQLite driver)");
        return false;
    }
    QDir().mkpath(QFileInfo(path).absolutePath());
    m_path = path;
    m_connection = QStringLiteral("station-") + QUuid::createUuid().toString(QUuid::Id128);
    QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    database.setDatabaseName(path);
    database.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
    if (!database.open()) {
        *why = database.lastError().text();
        return false;
    }
    // Each record on the disk when its transaction ends, readers beside the writer.
    QSqlQuery pragma(database);
    for (const char *statement : {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=FULL"})
        if (!pragma.exec(QLatin1String(statement))) {
            *why = pragma.lastError().text();
            return false;
        }
    if (!storeschema::prepare(database, storeschema::Dialect::SQLite, true, why)) {
        *why = QStringLiteral("%1: %2").arg(path, *why);
        return false;
    }
    return true;
}

bool StationStore::add(const QByteArray &line, bool forward, QString *why)
{
    const std::optional<QVariantList> row = recordrow::of(line);
    if (!row) {
        *why = QStringLiteral("not a record");
        return false;
    }
    QSqlDatabase db = database();
    if (!storeschema::beginWrite(db, why))
        return false;
    if (!insert(db, *row, forward, why) || !storeschema::commit(db, why)) {
        storeschema::rollback(db);
        return false;
    }
    return true;
}

int StationStore::catchUp(const QStringList &files, bool forward, QString *why)
{
    QSqlDatabase db = database();
    int added = 0;
    for (const QString &name : files) {
        const QString key = QFileInfo(name).absoluteFilePath();
        QFile file(name);
        // Not there yet, or not a file (a device given as the log): nothing to read.
        if (!QFileInfo(name).isFile() || !file.open(QIODevice::ReadOnly))
            continue;
        if (!storeschema::beginWrite(db, why))
            return -1;
        qint64 from = 0;
        {
            QSqlQuery where(db);
            where.prepare(QStringLiteral("SELECT bytes FROM imported WHERE file = ?"));
            where.addBindValue(key);
            if (where.exec() && where.next())
                from = where.value(0).toLongLong();
        }
        if (from > file.size())
            from = 0; // a file made anew under the same name: read it all
        if (!file.seek(from)) {
            storeschema::rollback(db);
            continue;
        }
        qint64 readTo = from;
        while (!file.atEnd()) {
            const QByteArray line = file.readLine();
            if (!line.endsWith('\n'))
                break; // a line still being written, or cut short: read again next time
            readTo += line.size();
            const std::optional<QVariantList> row = recordrow::of(line);
            if (!row)
                continue;
            bool isNew = false; // one the store holds is left as it is
            if (!insert(db, *row, forward, why, &isNew)) {
                storeschema::rollback(db);
                return -1;
            }
            added += isNew;
        }
        QSqlQuery mark(db);
        mark.prepare(QStringLiteral("INSERT INTO imported (file, bytes) VALUES (?, ?) "
                                    "ON CONFLICT (file) DO UPDATE SET bytes = excluded.bytes"));
        mark.addBindValue(key);
        mark.addBindValue(readTo);
        if (!mark.exec()) {
            *why = mark.lastError().text();
            storeschema::rollback(db);
            return -1;
        }
        mark.finish();
        if (!storeschema::commit(db, why)) {
            storeschema::rollback(db);
            return -1;
        }
    }
    return added;
}

int StationStore::unsent() const
{
    QSqlQuery count(database());
    return count.exec(QStringLiteral("SELECT COUNT(*) FROM outbox")) && count.next()
               ? count.value(0).toInt()
               : 0;
}
