#include "benchwindow/shiftcounters.h"

#include <QCoreApplication>

namespace {

QString durationText(qint64 ms)
{
    const qint64 s = ms / 1000;
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600)
        .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

QString tr(const char *text)
{
    return QCoreApplication::translate("BenchWindow", text);
}

} // namespace

QString countersText(const ShiftTally &tally)
{
    const bool finished = tally.passed() + tally.failed() > 0;
    QString text =
        tr("Passed <b>%1</b> &nbsp; Failed <b>%2</b> &nbsp; Yield <b>%3 %</b>")
            .arg(tally.passed())
            .arg(tally.failed())
            .arg(finished ? QString::number(tally.yield() * 100, 'f', 1) : QStringLiteral("–"));
    if (tally.cancelled() > 0)
        text += tr(" &nbsp; Cancelled <b>%1</b>").arg(tally.cancelled());
    return text;
}

QString paceText(const ShiftTally &tally, qint64 elapsedMs, const QTime &since)
{
    // The pace says little before a few minutes of a shift.
    constexpr qint64 paceAfterMs = 5 * 60 * 1000;
    const auto figure = [](double value, bool known) {
        return known ? QString::number(value, 'f', 1) : QStringLiteral("–");
    };
    return tr("<b>%1</b> boards an hour &nbsp; median <b>%2 s</b> a board &nbsp; since %3 (%4)")
        .arg(figure(tally.boardsPerHour(elapsedMs), elapsedMs >= paceAfterMs))
        .arg(figure(tally.medianSeconds(), tally.passed() > 0))
        .arg(since.toString(QStringLiteral("HH:mm")), durationText(elapsedMs));
}
