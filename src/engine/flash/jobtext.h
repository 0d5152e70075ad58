#pragma once

#include "engine/flash/flashjob.h"

#include <QString>

// How a job's phase and pace read, the same in every front end.

// opening, waking, settling, starting, sending, done, failed.
QString phaseName(FlashJob::Phase phase);
// "12.3 kB/s", "800 B/s".
QString bytesPerSecondText(double bytesPerSecond);
// The pace of a transfer that has sent `sent` bytes in `transferSeconds`, in bytes a second;
// 0 until it has run long enough to say.
double transferRate(qint64 sent, double transferSeconds);
// "1:05 left" at `rate` for what remains of `total`; empty without a rate.
QString timeLeftText(qint64 sent, qint64 total, double rate);
