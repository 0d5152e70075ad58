#include "store/recordsquery.h"

#include "store/recordrow.h"
#include "store/storeschema.h"

#include <QFile>
#include <QJsonArray>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include <algorithm>

namespace recordsquery {

QString Filter::where(QVariantList *values) const
{
    QStringList clauses;
    const std::pair<const char *, QString> equal[] = {
        {"board_id", boardId}, {"serial_number", serial}, {"slot", slot}, {"host", station},
        {"tag", tag},          {"result", result},        {"day", day}};
    for (const auto &[column, value] : equal)
        if (!value.isEmpty()) {
            clauses << QStringLiteral("%1 = ?").arg(QLatin1String(column));
            *values << value;
        }
    if (!imagePrefix.isEmpty()) { // a range, so that the index serves it
        clauses << QStringLiteral("image_sha256 >= ? AND image_sha256 < ?");
        *values << imagePrefix.toLower() << imagePrefix.toLower() + QLatin1Char('~');
    }
    if (from.isValid()) {
        clauses << QStringLiteral("ended_ms >= ?");
        *values << from.toMSecsSinceEpoch();
    }
    if (to.isValid()) {
        clauses << QStringLiteral("ended_ms < ?");
        *values << to.toMSecsSinceEpoch();
    }
    return clauses.isEmpty() ? QString()
                             : QStringLiteral(" WHERE ") + clauses.join(QStringLiteral(" AND "));
}

QList<QJsonObject> find(const QSqlDatabase &database, const Filter &filter, QString *why)
{
    QVariantList values;
    QString statement =
        QStringLiteral("SELECT %1 FROM boards%2 ORDER BY ended_ms DESC")
            .arg(recordrow::columnNames().join(QStringLiteral(", ")), filter.where(&values));
    if (filter.limit > 0)
        statement += QStringLiteral(" LIMIT %1").arg(filter.limit);
    QSqlQuery query(database);
    query.setForwardOnly(true);
    query.prepare(statement);
    for (const QVariant &value : std::as_const(values))
        query.addBindValue(value);
    QList<QJsonObject> boards;
    if (!query.exec()) {
        *why = query.lastError().text();
        return boards;
    }
    while (query.next()) {
        QJsonObject board;
        const QSqlRecord record = query.record();
        for (int i = 0; i < record.count(); ++i)
            if (!query.isNull(i))
                board.insert(record.fieldName(i), QJsonValue::fromVariant(query.value(i)));
        boards << board;
    }
    return boards;
}

namespace {

// Counts by result of a column's values: a slot's, a station's.
QList<Summary::Part> parts(const QSqlDatabase &database, const char *column, const QString &where,
                           const QVariantList &values, QString *why)
{
    QSqlQuery query(database);
    query.prepare(QStringLiteral("SELECT COALESCE(%1, ''), result, COUNT(*) FROM boards%2 "
                                 "GROUP BY 1, 2 ORDER BY 1")
                      .arg(QLatin1String(column), where));
    for (const QVariant &value : values)
        query.addBindValue(value);
    QList<Summary::Part> list;
    if (!query.exec()) {
        *why = query.lastError().text();
        return list;
    }
    while (query.next()) {
        const QString name = query.value(0).toString();
        if (list.isEmpty() || list.last().name != name)
            list << Summary::Part{name};
        const QString result = query.value(1).toString();
        const int count = query.value(2).toInt();
        Summary::Part &part = list.last();
        (result == QStringLiteral("ok")          ? part.ok
         : result == QStringLiteral("cancelled") ? part.cancelled
                                                 : part.failed) += count;
    }
    return list;
}

QJsonObject partJson(const Summary::Part &part)
{
    return QJsonObject{{QStringLiteral("name"), part.name},
                       {QStringLiteral("ok"), part.ok},
                       {QStringLiteral("failed"), part.failed},
                       {QStringLiteral("cancelled"), part.cancelled},
                       {QStringLiteral("yield"), part.yield()}};
}

} // namespace

QJsonObject Summary::toJson() const
{
    QJsonObject results;
    for (const auto &[result, count] : byResult)
        results.insert(result, count);
    QJsonArray slotList, stations;
    for (const Part &part : bySlot)
        slotList.append(partJson(part));
    for (const Part &part : byStation)
        stations.append(partJson(part));
    QJsonObject json = partJson(total);
    json.remove(QStringLiteral("name"));
    json.insert(QStringLiteral("results"), results);
    json.insert(QStringLiteral("boards_per_hour"), boardsPerHour);
    json.insert(QStringLiteral("median_seconds"), medianSeconds);
    json.insert(QStringLiteral("slots"), slotList);
    json.insert(QStringLiteral("stations"), stations);
    return json;
}

std::optional<Summary> summarize(const QSqlDatabase &database, const Filter &filter, QString *why)
{
    QVariantList values;
    const QString where = filter.where(&values);
    Summary summary;
    QSqlQuery query(database);
    query.prepare(QStringLiteral("SELECT result, COUNT(*), MIN(ended_ms), MAX(ended_ms) FROM "
                                 "boards%1 GROUP BY result ORDER BY result")
                      .arg(where));
    for (const QVariant &value : std::as_const(values))
        query.addBindValue(value);
    if (!query.exec()) {
        *why = query.lastError().text();
        return std::nullopt;
    }
    qint64 first = 0, last = 0;
    while (query.next()) {
        const QString result = query.value(0).toString();
        const int count = query.value(1).toInt();
        summary.byResult.append({result, count});
        (result == QStringLiteral("ok")          ? summary.total.ok
         : result == QStringLiteral("cancelled") ? summary.total.cancelled
                                                 : summary.total.failed) += count;
        const qint64 from = query.value(2).toLongLong(), to = query.value(3).toLongLong();
        first = first == 0 ? from : qMin(first, from);
        last = qMax(last, to);
    }
    // Over the hours the boards ended in, an hour at least.
    const double hours = qMax(1.0, double(last - first) / 3600000.0);
    summary.boardsPerHour = (summary.total.ok + summary.total.failed) / hours;
    QSqlQuery times(database);
    times.setForwardOnly(true);
    QVariantList okValues = values;
    okValues << QStringLiteral("ok");
    times.prepare(
        QStringLiteral("SELECT seconds FROM boards%1 %2 result = ? ORDER BY seconds")
            .arg(where, where.isEmpty() ? QStringLiteral("WHERE") : QStringLiteral("AND")));
    for (const QVariant &value : std::as_const(okValues))
        times.addBindValue(value);
    QList<double> seconds;
    if (times.exec())
        while (times.next())
            seconds << times.value(0).toDouble();
    if (!seconds.isEmpty())
        summary.medianSeconds =
            seconds.size() % 2
                ? seconds.at(seconds.size() / 2)
                : (seconds.at(seconds.size() / 2 - 1) + seconds.at(seconds.size() / 2)) / 2;
    summary.bySlot = parts(database, "slot", where, values, why);
    summary.byStation = parts(database, "host", where, values, why);
    return summary;
}

int importFiles(QSqlDatabase &database, const QStringList &files, QString *why)
{
    int added = 0;
    for (const QString &name : files) {
        QFile file(name);
        if (!file.open(QIODevice::ReadOnly)) {
            *why = QStringLiteral("%1: %2").arg(name, file.errorString());
            return -1;
        }
        if (!database.transaction()) {
            *why = database.lastError().text();
            return -1;
        }
        QSqlQuery insert(database);
        insert.prepare(storeschema::insertStatement());
        while (!file.atEnd()) {
            const std::optional<QVariantList> row = recordrow::of(file.readLine());
            if (!row)
                continue;
            for (int i = 0; i < row->size(); ++i)
                insert.bindValue(i, row->at(i));
            if (!insert.exec()) {
                *why = insert.lastError().text();
                database.rollback();
                return -1;
            }
            added += insert.numRowsAffected() > 0;
        }
        if (!database.commit()) {
            *why = database.lastError().text();
            return -1;
        }
    }
    // The planner's figures for what came in: without them, after a large import PostgreSQL
    // walks a million boards by time to find one board's few.
    if (added > 0 && !QSqlQuery(database).exec(QStringLiteral("ANALYZE boards"))) {
        *why = database.lastError().text();
        return -1;
    }
    return added;
}

} // namespace recordsquery
