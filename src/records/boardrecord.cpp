#include "records/boardrecord.h"

#include <QCryptographicHash>

QString resultName(BoardResult result)
{
    switch (result) {
    case BoardResult::Ok:
        return QStringLiteral("ok");
    case BoardResult::Failed:
        return QStringLiteral("failed");
    case BoardResult::NotDetected:
        return QStringLiteral("not-detected");
    case BoardResult::PortError:
        return QStringLiteral("port-error");
    case BoardResult::Cancelled:
        return QStringLiteral("cancelled");
    case BoardResult::Pending:
        break;
    }
    return QStringLiteral("pending");
}

QString boardLabel(const QString &slot, const QString &port)
{
    if (slot.isEmpty())
        return port;
    if (slot == QStringLiteral("unassigned"))
        return QStringLiteral("%1 (unassigned)").arg(port);
    return slot;
}

ImageRecord ImageRecord::of(const QString &path, const PaddedImage &image)
{
    const QByteArray bytes = QByteArray::fromRawData(image.data.get(), image.length);
    ImageRecord record;
    record.path = path;
    record.bytes = image.length;
    record.padded = image.size;
    record.sha256 =
        QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
    record.format = imageformats::formatName(image.format);
    record.base = image.base;
    record.fileSha256 = image.fileSha256;
    return record;
}

void Tally::add(const BoardRecord &board)
{
    constexpr int namedFailures = 20;
    if (board.result == BoardResult::Ok) {
        ++succeeded;
        longestTransfer = qMax(longestTransfer, board.transferSeconds);
        return;
    }
    if (++failed <= namedFailures)
        failedNames << QStringLiteral("%1 (%2)").arg(boardLabel(board), resultName(board.result));
    cut = cut || board.result == BoardResult::Cancelled;
}
