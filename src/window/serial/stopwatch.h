#pragma once

#include <QtGlobal>

// Measures the protocol's waits on the system (wall) clock, in whole milliseconds.
// A plain value: the fields are public so that a span can be set up exactly.
struct Stopwatch
{
    qint64 startTime = 0; // nanoseconds since the system clock's epoch
    qint64 stopTime = 0;
    bool running = false;

    void reset();
    void start();
    void stop();

    // Truncated to whole milliseconds before anything else, so the limits compare exactly.
    double elapsedMilliseconds() const;
    double elapsedSeconds() const;

private:
    static qint64 now();
};
