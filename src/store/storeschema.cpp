#include "store/storeschema.h"

#include "store/recordrow.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

namespace storeschema {

namespace {

QString typeOf(recordrow::Kind kind, Dialect dialect)
{
    switch (kind) {
    case recordrow::Kind::Integer:
        return dialect == Dialect::SQLite ? QStringLiteral("INTEGER") : QStringLiteral("BIGINT");
    case recordrow::Kind::Real:
        return dialect == Dialect::SQLite ? QStringLiteral("REAL")
                                          : QStringLiteral("DOUBLE PRECISION");
    case recordrow::Kind::Text:
        break;
    }
    return QStringLiteral("TEXT");
}

bool run(QSqlDatabase &database, const QString &statement, QString *why)
{
    QSqlQuery query(database);
    if (query.exec(statement))
        return true;
    *why = query.lastError().text();
    return false;
}

bool prepareTables(QSqlDatabase &database, Dialect dialect, bool station, QString *why);

} // namespace

QString insertStatement()
{
    const QStringList names = recordrow::columnNames();
    return QStringLiteral("INSERT INTO boards (%1) VALUES (%2) ON CONFLICT (id) DO NOTHING")
        .arg(names.join(QStringLiteral(", ")),
             QStringList(names.size(), QStringLiteral("?")).join(QStringLiteral(", ")));
}

bool beginWrite(QSqlDatabase &database, QString *why)
{
    return run(database, QStringLiteral("BEGIN IMMEDIATE"), why);
}

bool commit(QSqlDatabase &database, QString *why)
{
    return run(database, QStringLiteral("COMMIT"), why);
}

void rollback(QSqlDatabase &database)
{
    QString ignored;
    run(database, QStringLiteral("ROLLBACK"), &ignored);
}

bool prepare(QSqlDatabase &database, Dialect dialect, bool station, QString *why)
{
    // Stations starting together make the line's tables once.
    if (dialect == Dialect::PostgreSQL &&
        (!database.transaction() ||
         !run(database, QStringLiteral("SELECT pg_advisory_xact_lock(7140531)"), why)))
        return false;
    const bool prepared = prepareTables(database, dialect, station, why);
    if (dialect == Dialect::PostgreSQL && !(prepared ? database.commit() : database.rollback()))
        return false;
    return prepared;
}

namespace {

bool prepareTables(QSqlDatabase &database, Dialect dialect, bool station, QString *why)
{
    if (!run(database,
             QStringLiteral("CREATE TABLE IF NOT EXISTS vantyx_schema (version INTEGER NOT NULL)"),
             why))
        return false;
    QSqlQuery query(database);
    if (!query.exec(QStringLiteral("SELECT MAX(version) FROM vantyx_schema"))) {
        *why = query.lastError().text();
        return false;
    }
    const int found = query.next() ? query.value(0).toInt() : 0;
    if (found > version) {
        *why = QStringLiteral("the store is of a newer schema (%1) than this program knows (%2)")
                   .arg(found)
                   .arg(version);
        return false;
    }
    QStringList columns;
    for (const recordrow::Column &column : recordrow::columns())
        columns << QStringLiteral("%1 %2%3").arg(
            QLatin1String(column.name), typeOf(column.kind, dialect),
            qstrcmp(column.name, "id") == 0 ? QStringLiteral(" PRIMARY KEY") : QString());
    QStringList statements{QStringLiteral("CREATE TABLE IF NOT EXISTS boards (%1)")
                               .arg(columns.join(QStringLiteral(", ")))};
    // The questions: a board by its ID or serial, an image by its hash's start, a slot, a
    // station, a shift's tag, each newest first (so by time within the value: the newest 50 of
    // an adapter's thousands are read straight off the index); a time range; a day's summary.
    for (const char *column : {"board_id", "serial_number", "image_sha256", "slot", "host", "tag"})
        statements << QStringLiteral(
                          "CREATE INDEX IF NOT EXISTS boards_%1 ON boards (%1, ended_ms)")
                          .arg(QLatin1String(column));
    for (const char *column : {"ended_ms", "day"})
        statements << QStringLiteral("CREATE INDEX IF NOT EXISTS boards_%1 ON boards (%1)")
                          .arg(QLatin1String(column));
    if (station)
        statements << QStringLiteral("CREATE TABLE IF NOT EXISTS outbox (id TEXT PRIMARY KEY)")
                   << QStringLiteral("CREATE TABLE IF NOT EXISTS imported "
                                     "(file TEXT PRIMARY KEY, bytes INTEGER NOT NULL)");
    for (const QString &statement : std::as_const(statements))
        if (!run(database, statement, why))
            return false;
    if (found == 0 &&
        !run(database,
             QStringLiteral("INSERT INTO vantyx_schema (version) VALUES (%1)").arg(version), why))
        return false;
    return true;
}

} // namespace

} // namespace storeschema
