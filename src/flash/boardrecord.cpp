#include "flash/boardrecord.h"

#include "serial/portlist.h"

#include <QCryptographicHash>

QString resultName(FlashJob::Result result)
{
    switch (result) {
    case FlashJob::Result::Ok:
        return QStringLiteral("ok");
    case FlashJob::Result::Failed:
        return QStringLiteral("failed");
    case FlashJob::Result::NotDetected:
        return QStringLiteral("not-detected");
    case FlashJob::Result::PortError:
        return QStringLiteral("port-error");
    case FlashJob::Result::Cancelled:
        return QStringLiteral("cancelled");
    case FlashJob::Result::Pending:
        break;
    }
    return QStringLiteral("pending");
}

BoardRecord BoardRecord::of(const FlashJob &job, const QSerialPortInfo &info)
{
    BoardRecord board;
    board.port = job.port();
    board.result = job.result();
    board.bytesSent = job.bytesSent();
    board.blocks = job.blocks();
    board.resends = job.resends();
    board.seconds = job.seconds();
    board.transferSeconds = job.transferSeconds();
    board.replyLatencyMs = job.replyLatencyMs();
    board.remote = job.isRemote();
    board.message = job.message();
    board.started = job.startedAt();
    board.ended = job.endedAt();
    if (!info.isNull()) {
        board.serialNumber = info.serialNumber();
        board.usb = usbId(info);
        board.location = info.systemLocation();
    }
    return board;
}

ImageRecord ImageRecord::of(const QString &path, const PaddedImage &image)
{
    const QByteArray bytes = QByteArray::fromRawData(image.data.get(), image.length);
    return {
        path, image.length, image.size,
        QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex())};
}

void Tally::add(const BoardRecord &board)
{
    constexpr int namedFailures = 20;
    if (board.result == FlashJob::Result::Ok) {
        ++succeeded;
        longestTransfer = qMax(longestTransfer, board.transferSeconds);
        return;
    }
    if (++failed <= namedFailures)
        failedNames << QStringLiteral("%1 (%2)").arg(board.port, resultName(board.result));
    cut = cut || board.result == FlashJob::Result::Cancelled;
}
