#pragma once

#include "figures.h"

#include <QList>

// How the benchmark was asked to run.
struct Options
{
    bool quick = false;
    int runs = 3;
    bool metrics = true;
};

// The sizes each measure uses, for the table's labels too.
struct Sizes
{
    explicit Sizes(bool quick)
        : big(quick ? 256 * 1024 : 1024 * 1024), wire(quick ? 16 * 1024 : 64 * 1024),
          slow(quick ? 64 * 256 : 256 * 256), bench(quick ? 16 * 1024 : 64 * 1024)
    {
    }
    int big, wire, slow, bench;
    static constexpr int boards = 16;
};

// A 115200 line's image bytes a second: 11520 bytes, 256 of every 258 of them image.
constexpr double lineLimit = 256.0 / 258.0 * 11520.0;

// The line for scripts: each goal's figure, by the name scripts know it by.
struct SummaryFigure
{
    const char *name;
    double value;
    int decimals;
    bool measured;
};
QList<SummaryFigure> summaryOf(const Figures &f);

// The table of medians against the goals, each run's figures where the median hides them, what
// ran beside each measure, and the summary line.
void printTable(const Figures &f, const Options &options);

// Each summary figure's low, median and high over full runs.
void printSpread(const QList<QList<SummaryFigure>> &summaries);
