#include "engine/link/seriallink.h"

void SerialLink::askForLowLatency()
{
    // The adapter's latency timer is a setting of its driver's Advanced properties there.
}

qint64 SerialLink::writeStraight(const char *, qint64)
{
    return 0; // QSerialPort's overlapped write is the way
}
