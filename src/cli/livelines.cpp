#include "cli/livelines.h"

#include "cli/reporttext.h"

#include <QtGlobal>

LiveFigures LiveFigures::of(const FlashJob &job, const QString &label)
{
    return {label,           job.phase(),           job.bytesSent(),
            job.imageSize(), job.transferSeconds(), job.resends()};
}

QString liveLine(const LiveFigures &figures, int portWidth, int width)
{
    const double share = figures.total > 0 ? double(figures.sent) / figures.total : 0;
    const double perSecond = transferRate(figures.sent, figures.transferSeconds);
    const QString left = timeLeftText(figures.sent, figures.total, perSecond);

    enum Column { Port, Phase, Bar, Percent, Rate, Left, Resends, Columns };
    const QString text[Columns] = {
        figures.port.leftJustified(portWidth),
        phaseName(figures.phase).leftJustified(8),
        QString(),
        QStringLiteral("%1%").arg(int(share * 100), 3),
        (perSecond > 0 ? bytesPerSecondText(perSecond) : QString()).rightJustified(10),
        left.rightJustified(10),
        QStringLiteral("%1 resends").arg(figures.resends)};
    bool shown[Columns] = {true, true, true, true, true, true, true};
    auto compose = [&](int barWidth) {
        QString line;
        for (int c = 0; c < Columns; ++c) {
            if (!shown[c])
                continue;
            if (c > 0)
                line += c == Percent && shown[Bar] ? QStringLiteral(" ") : QStringLiteral("  ");
            if (c == Bar) {
                const int filled = int(share * barWidth);
                line += QLatin1Char('[') + QString(filled, QLatin1Char('#')) +
                        QString(barWidth - filled, QLatin1Char('.')) + QLatin1Char(']');
            } else {
                line += text[c];
            }
        }
        return line;
    };

    // As the terminal narrows: the resends go, the bar narrows then goes, then the rate, the
    // time left and the phase; the port and its percent stay.
    constexpr int widestBar = 24, narrowestBar = 8;
    int barWidth = widestBar;
    for (const Column column : {Resends, Bar, Rate, Left, Phase}) {
        if (compose(barWidth).size() <= width)
            break;
        if (column == Bar) {
            barWidth = qMax<int>(narrowestBar, barWidth - (compose(barWidth).size() - width));
            if (compose(barWidth).size() <= width)
                break;
        }
        shown[column] = false;
    }
    return compose(barWidth).left(qMax(width, 1));
}

QStringList liveScreen(const QList<LiveFigures> &jobs, int portWidth, int width, int rows)
{
    // The cursor is left on the row below the last line, and a line of its own says the rest.
    const int fit = qMax(rows - 1, 1);
    const int shown = jobs.size() <= fit ? int(jobs.size()) : fit - 1;
    QStringList lines;
    for (int i = 0; i < shown; ++i)
        lines << liveLine(jobs.at(i), portWidth, width);
    if (shown < jobs.size())
        lines << QStringLiteral("and %1 more").arg(jobs.size() - shown).left(qMax(width, 1));
    return lines;
}

int rowsTaken(const QList<int> &lengths, int width)
{
    int rows = 0;
    for (const int length : lengths)
        rows += length <= width ? 1 : (length + width - 1) / qMax(width, 1);
    return rows;
}
