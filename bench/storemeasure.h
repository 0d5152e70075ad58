#pragma once

#include "figures.h"

#include <QString>

// The record stores under a line's years of boards: `records` made-up records (eight
// stations, sixteen slots each, a month) imported by vantyx-records into the station's SQLite
// and into a PostgreSQL of the measure's own, against sqlite3's own .import of the same rows;
// then a board's history, an adapter's boards and a day's summary asked of each. Figures:
// store_*; false with why.
bool measureStores(int records, const QString &folder, Figures *figures, QString *why);
