#pragma once

#include "records/shifttally.h"

#include <QString>
#include <QTime>

// The counters at the top of the bench window, from the shift's tally (the one vantyx-flash's
// summary and the metrics read): passed, failed and the yield, cancelled boards apart, in large
// type...
QString countersText(const ShiftTally &tally);
// ... and beside them the pace, the median time a passed board took, and since when.
QString paceText(const ShiftTally &tally, qint64 elapsedMs, const QTime &since);
