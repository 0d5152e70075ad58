#include "engine/flash/jobtext.h"

QString phaseName(FlashJob::Phase phase)
{
    switch (phase) {
    case FlashJob::Phase::Opening:
        return QStringLiteral("opening");
    case FlashJob::Phase::Waking:
        return QStringLiteral("waking");
    case FlashJob::Phase::Settling:
        return QStringLiteral("settling");
    case FlashJob::Phase::Starting:
        return QStringLiteral("starting");
    case FlashJob::Phase::Sending:
        return QStringLiteral("sending");
    case FlashJob::Phase::Done:
        return QStringLiteral("done");
    case FlashJob::Phase::Failed:
        return QStringLiteral("failed");
    }
    return QString();
}

QString bytesPerSecondText(double bytesPerSecond)
{
    return bytesPerSecond >= 1000 ? QStringLiteral("%1 kB/s").arg(bytesPerSecond / 1000, 0, 'f', 1)
                                  : QStringLiteral("%1 B/s").arg(bytesPerSecond, 0, 'f', 0);
}

double transferRate(qint64 sent, double transferSeconds)
{
    // The first few blocks say little about the pace.
    return transferSeconds > 0.2 ? double(sent) / transferSeconds : 0;
}

QString timeLeftText(qint64 sent, qint64 total, double rate)
{
    if (rate <= 0)
        return QString();
    const int secondsLeft = int(double(total - sent) / rate + 0.5);
    return QStringLiteral("%1:%2 left")
        .arg(secondsLeft / 60)
        .arg(secondsLeft % 60, 2, 10, QLatin1Char('0'));
}
