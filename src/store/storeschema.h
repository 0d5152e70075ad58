#pragma once

#include <QSqlDatabase>
#include <QString>

// The stores' tables, the same in the station's SQLite and the line's PostgreSQL: the boards,
// keyed by their records' IDs, with indexes for the questions asked of them, and the schema's
// version, so that an older program refuses a store a newer one made.
namespace storeschema {

constexpr int version = 1;
enum class Dialect { SQLite, PostgreSQL };

// Makes what is missing; false, with why, for a store of a newer schema or one that cannot be
// written. `station` adds the station's own tables: the records not yet sent to the line's
// store, and how far each JSON Lines file has been read into it.
bool prepare(QSqlDatabase &database, Dialect dialect, bool station, QString *why);
// INSERT of a row of recordrow's columns, doing nothing for an ID the store holds already.
QString insertStatement();

// A write transaction on a station's SQLite, its lock taken at once (waiting out another
// writer): a transaction that reads first and writes then could find another connection wrote
// in between, and fail rather than wait. False with why.
bool beginWrite(QSqlDatabase &database, QString *why);
bool commit(QSqlDatabase &database, QString *why);
void rollback(QSqlDatabase &database);

} // namespace storeschema
