#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariantList>

// The questions asked of a store, the station's SQLite or the line's PostgreSQL alike.
namespace recordsquery {

// Which boards: each given filter narrows them.
struct Filter
{
    QString boardId, serial, imagePrefix, slot, station, tag, result, day;
    QDateTime from, to; // invalid: open
    int limit = 0;      // 0: all

    // The WHERE clause (with "?" for each value) and its values.
    QString where(QVariantList *values) const;
};

// The boards, newest first, each as its columns (recordrow's) by name.
QList<QJsonObject> find(const QSqlDatabase &database, const Filter &filter, QString *why);

// A shift's or a day's figures: per result, the yield, boards an hour, the median time a passed
// board took, per slot and per station.
struct Summary
{
    struct Part
    {
        QString name;
        int ok = 0, failed = 0, cancelled = 0; // failed: every result but ok and cancelled
        double yield() const { return ok + failed > 0 ? double(ok) / (ok + failed) : 0; }
    };
    Part total;
    QList<QPair<QString, int>> byResult;
    double boardsPerHour = 0;
    double medianSeconds = 0;
    QList<Part> bySlot, byStation;

    QJsonObject toJson() const;
};
std::optional<Summary> summarize(const QSqlDatabase &database, const Filter &filter, QString *why);

// Adds the records of JSON Lines files; how many were new, or -1 with why.
int importFiles(QSqlDatabase &database, const QStringList &files, QString *why);

} // namespace recordsquery
