#include "cli/reporttext.h"

#include "core/protocol/quenlark.h"

#include <QStringList>

QString latencyAdvice(const BoardRecord &board)
{
    // Below this, scheduling and the line's own jitter; above it, something holds the replies.
    constexpr double noticedMs = 4;
    constexpr int enoughBlocks = 4;
    if (board.replyLatencyMs < noticedMs || board.blocks < enoughBlocks)
        return QString();
    const double wireMs = quenlark::blockExchangeWireMs;
    const QString late =
        QStringLiteral("%1: replies come %2 ms late on every block (%3 of the wire's pace)")
            .arg(boardLabel(board))
            .arg(qRound(board.replyLatencyMs))
            .arg(wireMs / (wireMs + board.replyLatencyMs), 0, 'f', 2);
    if (board.remote)
        return late + QStringLiteral("; on the server, set its adapter's latency timer to 1 ms "
                                     "and ser2net's chardelay to false");
    return late + QStringLiteral("; the adapter holds them: ") + adapterLatencyFix(board.port);
}

QString finishedLine(const BoardRecord &board, bool withReason)
{
    QString line = QStringLiteral("%1: %2, %3 bytes in %4 blocks, %5 resends, %6 s")
                       .arg(boardLabel(board), resultName(board.result))
                       .arg(board.bytesSent)
                       .arg(board.blocks)
                       .arg(board.resends)
                       .arg(board.seconds, 0, 'f', 1);
    if (withReason && !board.message.isEmpty())
        line += QStringLiteral(": ") + board.message;
    return line;
}

QString waitingLine(const ShiftTally &tally)
{
    return QStringLiteral("waiting for boards: %1 ok, %2 failed so far")
        .arg(tally.passed())
        .arg(tally.failed());
}

QString imageLine(const ImageRecord &image)
{
    QString line = QStringLiteral("%1, %2, %3 bytes from 0x%4, sha256 %5 (file sha256 %6)")
                       .arg(image.path, image.format)
                       .arg(image.bytes)
                       .arg(image.base, 8, 16, QLatin1Char('0'))
                       .arg(image.sha256, image.fileSha256);
    if (!image.largeGapText().isEmpty())
        line += QStringLiteral("; ") + image.largeGapText();
    return line;
}

QString summaryLine(const ShiftTally &tally, const ImageRecord &image)
{
    QString line =
        QStringLiteral("summary: %1 succeeded, %2 failed").arg(tally.passed()).arg(tally.failed());
    if (tally.cancelled() > 0)
        line += QStringLiteral(", %1 cancelled").arg(tally.cancelled());
    if (tally.passed() + tally.failed() > 0)
        line += QStringLiteral(", yield %1%").arg(tally.yield() * 100, 0, 'f', 1);
    if (!tally.unpassedNames().isEmpty())
        line += QStringLiteral(": ") + tally.unpassedNames().join(QStringLiteral(", "));
    if (tally.unpassed() > tally.unpassedNames().size())
        line += QStringLiteral(" and %1 more").arg(tally.unpassed() - tally.unpassedNames().size());
    line += QStringLiteral("; image %1 bytes").arg(image.bytes);
    if (!image.fileSha256.isEmpty())
        line += QStringLiteral(" from %1 at 0x%2")
                    .arg(image.format)
                    .arg(image.base, 8, 16, QLatin1Char('0'));
    if (image.padded != image.bytes)
        line += QStringLiteral(", sent as %1").arg(image.padded);
    if (!image.largeGapText().isEmpty())
        line += QStringLiteral(", with ") + image.largeGapText();
    if (tally.passed() > 0)
        line += QStringLiteral("; transfer %1%2 s, after %3 of settling")
                    .arg(tally.passed() > 1 ? QStringLiteral("up to ") : QString())
                    .arg(tally.longestTransfer(), 0, 'f', 1)
                    .arg(quenlark::limitText(quenlark::settlingMs));
    return line;
}
