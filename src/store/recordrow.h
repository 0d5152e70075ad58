#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <optional>

// A board's record as a row of the stores: its fields as columns, for the questions a line
// asks ("which boards got image X", "what happened to board SN-1234", "which slot fails
// most"), and its JSON line itself, byte for byte. The same row in the station's SQLite and in
// the line's PostgreSQL, made from the line alone.
namespace recordrow {

enum class Kind { Text, Integer, Real };
struct Column
{
    const char *name;
    Kind kind;
};
// The columns, in their order; "id" first: the record's UUID, the key in every store.
const QList<Column> &columns();
QStringList columnNames();

// The row of a JSON line of a log or a daily file; none for a line that is no record (a line
// a crash cut short, a blank one). A record without an ID of its own (one written before
// records had them) gets one made from its bytes, so that it is never stored twice.
std::optional<QVariantList> of(const QByteArray &line);

} // namespace recordrow
