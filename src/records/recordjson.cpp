#include "records/recordjson.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QSysInfo>

#include <cmath>

namespace recordjson {

namespace {

// The field names, in their order; the objects and the help both take them from here.
const char *const imageNames[] = {"path", "bytes", "padded", "sha256"};
const char *const boardNames[] = {
    "port",    "result",  "bytes_sent", "blocks",        "resends", "seconds", "reply_latency_ms",
    "message", "started", "ended",      "serial_number", "usb",     "location"};

template <std::size_t N>
QJsonObject objectOf(const char *const (&names)[N], const QJsonValue (&values)[N])
{
    QJsonObject object;
    for (std::size_t i = 0; i < N; ++i)
        object.insert(QString::fromLatin1(names[i]), values[i]);
    return object;
}

// ISO 8601 with the local offset, to the millisecond: two boards on one port stay apart.
QString timestamp(const QDateTime &time)
{
    return time.isValid() ? time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODateWithMs)
                          : QString();
}

} // namespace

QJsonObject board(const BoardRecord &board)
{
    const QJsonValue values[] = {board.port,
                                 resultName(board.result),
                                 board.bytesSent,
                                 board.blocks,
                                 board.resends,
                                 board.seconds,
                                 std::round(board.replyLatencyMs * 10) / 10,
                                 board.message,
                                 timestamp(board.started),
                                 timestamp(board.ended),
                                 board.serialNumber,
                                 board.usb,
                                 board.location};
    QJsonObject object = objectOf(boardNames, values);
    // Only where they are known: the record's own ID, a bench's slots, an operator's ID, a
    // shift's tag, the approved job.
    const std::pair<const char *, QString> optional[] = {
        {"id", board.id}, {"slot", board.slot}, {"board_id", board.boardId}, {"tag", board.tag}};
    for (const auto &[name, value] : optional)
        if (!value.isEmpty())
            object.insert(QLatin1String(name), value);
    if (!board.job.name.isEmpty()) {
        QJsonObject job{{QStringLiteral("name"), board.job.name},
                        {QStringLiteral("version"), board.job.version},
                        {QStringLiteral("sha256"), board.job.sha256},
                        {QStringLiteral("key_id"), board.job.keyId}};
        if (board.job.allowOlder)
            job.insert(QStringLiteral("allow_older"), true);
        object.insert(QStringLiteral("job"), job);
    }
    return object;
}

QJsonObject image(const ImageRecord &image)
{
    const QJsonValue values[] = {image.path, image.bytes, image.padded, image.sha256};
    QJsonObject object = objectOf(imageNames, values);
    if (!image.fileSha256.isEmpty()) { // converted from records: what it was, and from where
        object.insert(QStringLiteral("format"), image.format);
        object.insert(QStringLiteral("base_address"),
                      QStringLiteral("0x%1").arg(image.base, 8, 16, QLatin1Char('0')));
        object.insert(QStringLiteral("file_sha256"), image.fileSha256);
    }
    return object;
}

QByteArray logLine(const BoardRecord &board, const ImageRecord &image)
{
    QJsonObject line = recordjson::board(board);
    line.insert(QStringLiteral("image"), recordjson::image(image));
    line.insert(QStringLiteral("program"), QCoreApplication::applicationName());
    line.insert(QStringLiteral("version"), QStringLiteral(FLASHLOADER_VERSION));
    line.insert(QStringLiteral("host"), QSysInfo::machineHostName());
    return QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n';
}

QList<const char *> boardFields()
{
    return QList<const char *>(std::begin(boardNames), std::end(boardNames));
}

QList<const char *> imageFields()
{
    return QList<const char *>(std::begin(imageNames), std::end(imageNames));
}

} // namespace recordjson
