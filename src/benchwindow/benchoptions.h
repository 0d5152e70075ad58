#pragma once

#include "station/stationoptions.h"

class QCommandLineParser;

// vantyx-bench's command line: a station's options, read as vantyx-flash reads them, and
// --start.
struct BenchOptions
{
    StationOptions station;
    bool start = false; // straight into a shift with the image given
};

// Describes the bench's options to `parser`.
void describeBenchOptions(QCommandLineParser &parser);
// Why the parsed arguments cannot be used, or empty when they can (then `options` holds them).
QString readBenchOptions(const QCommandLineParser &parser, BenchOptions *options);
