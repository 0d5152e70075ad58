#pragma once

#include <QString>

// The whole machine's CPU from the kernel's counters (/proc/stat), to tell a measure's own cost
// from what else ran beside it: other programs, or a host that gave the machine's CPUs to
// someone else (steal).
struct MachineTimes
{
    double busySeconds = 0;  // every CPU's user, system and interrupt time
    double stealSeconds = 0; // time the host ran something else on the machine's CPUs
    double totalSeconds = 0; // everything, idle included
    qint64 atNs = 0;         // when read, on the monotonic clock
};
MachineTimes machineTimes();

// What ran beside a measure between two readings, given the measure's own CPU seconds.
struct Beside
{
    double otherCores = 0; // CPUs' worth of work not the measure's
    double stealShare = 0; // of all the CPUs' time
    QString text() const;
};
Beside besideOf(const MachineTimes &start, const MachineTimes &end, double ownSeconds);

// Waits until the machine has been near idle for half a second, at most `limitMs`: a measure
// started while an earlier one's processes still wind down, or another program works, counts
// their work as its own. The CPUs' worth still busy when it gave up, or 0.
double waitForQuietMachine(int limitMs);

// This process's CPU seconds and those of its children it has waited for.
double ownCpuSeconds();
