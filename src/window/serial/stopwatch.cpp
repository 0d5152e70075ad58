#include "window/serial/stopwatch.h"

#include <chrono>

qint64 Stopwatch::now()
{
    using namespace std::chrono;
    return duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
}

void Stopwatch::reset()
{
    startTime = 0;
    stopTime = 0;
    running = false;
}

void Stopwatch::start()
{
    startTime = now();
    running = true;
}

void Stopwatch::stop()
{
    stopTime = now();
    running = false;
}

double Stopwatch::elapsedMilliseconds() const
{
    const qint64 end = running ? now() : stopTime;
    return double((end - startTime) / 1000000);
}

double Stopwatch::elapsedSeconds() const
{
    return elapsedMilliseconds() / 1000.0;
}
