#include "records/boardrecord.h"

#include <QCryptographicHash>
#include <QFileInfo>

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

QString unassignedSlot()
{
    return QStringLiteral("unassigned");
}

QString boardLabel(const QString &slot, const QString &port)
{
    if (slot.isEmpty())
        return port;
    if (slot == unassignedSlot())
        return QStringLiteral("%1 (%2)").arg(port, unassignedSlot());
    return slot;
}

ImageRecord ImageRecord::of(const QString &path, const PaddedImage &image)
{
    const QByteArray bytes = QByteArray::fromRawData(image.data.get(), image.length);
    ImageRecord record;
    record.path = path.isEmpty() ? path : QFileInfo(path).absoluteFilePath();
    record.bytes = image.length;
    record.padded = image.size;
    record.sha256 =
        QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
    record.format = imageformats::formatName(image.format);
    record.base = image.base;
    record.fileSha256 = image.fileSha256;
    record.gap = image.gap;
    record.gapFrom = image.gapFrom;
    return record;
}

QString ImageRecord::largeGapText() const
{
    constexpr qint64 noticed = 1 << 20;
    if (gap <= noticed)
        return QString();
    return QStringLiteral("a gap of %1 bytes at 0x%2 filled with 0xFF")
        .arg(gap)
        .arg(gapFrom, 8, 16, QLatin1Char('0'));
}
