#include "store/recordrow.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>

namespace recordrow {

namespace {

const QList<Column> all{
    {"id", Kind::Text},
    {"ended_ms", Kind::Integer}, // when it ended, in ms since 1970 (UTC): ranges and order
    {"day", Kind::Text},         // the station's own date it ended on: a day's summary
    {"started", Kind::Text},
    {"ended", Kind::Text},
    {"host", Kind::Text}, // the station
    {"program", Kind::Text},
    {"version", Kind::Text},
    {"slot", Kind::Text},
    {"port", Kind::Text},
    {"serial_number", Kind::Text},
    {"usb", Kind::Text},
    {"location", Kind::Text},
    {"board_id", Kind::Text},
    {"tag", Kind::Text},
    {"result", Kind::Text},
    {"message", Kind::Text},
    {"bytes_sent", Kind::Integer},
    {"blocks", Kind::Integer},
    {"resends", Kind::Integer},
    {"seconds", Kind::Real},
    {"reply_latency_ms", Kind::Real},
    {"image_path", Kind::Text},
    {"image_bytes", Kind::Integer},
    {"image_sha256", Kind::Text},
    {"image_format", Kind::Text},
    {"file_sha256", Kind::Text},
    {"job_name", Kind::Text},
    {"job_version", Kind::Integer},
    {"job_sha256", Kind::Text},
    {"job_key_id", Kind::Text},
    {"record", Kind::Text}, // the JSON line, byte for byte
};

QVariant text(const QJsonObject &object, const char *name)
{
    const QJsonValue value = object.value(QLatin1String(name));
    return value.isString() ? QVariant(value.toString()) : QVariant(QMetaType(QMetaType::QString));
}

QVariant integer(const QJsonObject &object, const char *name)
{
    const QJsonValue value = object.value(QLatin1String(name));
    return value.isDouble() ? QVariant(qint64(value.toDouble()))
                            : QVariant(QMetaType(QMetaType::LongLong));
}

QVariant real(const QJsonObject &object, const char *name)
{
    const QJsonValue value = object.value(QLatin1String(name));
    return value.isDouble() ? QVariant(value.toDouble()) : QVariant(QMetaType(QMetaType::Double));
}

} // namespace

const QList<Column> &columns()
{
    return all;
}

QStringList columnNames()
{
    QStringList names;
    for (const Column &column : all)
        names << QLatin1String(column.name);
    return names;
}

std::optional<QVariantList> of(const QByteArray &line)
{
    QByteArray bytes = line;
    while (bytes.endsWith('\n') || bytes.endsWith('\r'))
        bytes.chop(1);
    if (bytes.isEmpty())
        return std::nullopt;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject board = document.object();
    const QString result = board.value(QStringLiteral("result")).toString();
    if (result.isEmpty())
        return std::nullopt;
    QString id = board.value(QStringLiteral("id")).toString();
    if (id.isEmpty())
        id = QStringLiteral("line-") +
             QString::fromLatin1(
                 QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().left(32));
    const QDateTime ended =
        QDateTime::fromString(board.value(QStringLiteral("ended")).toString(), Qt::ISODateWithMs);
    const QJsonObject image = board.value(QStringLiteral("image")).toObject();
    const QJsonObject job = board.value(QStringLiteral("job")).toObject();
    return QVariantList{
        id,
        ended.isValid() ? QVariant(ended.toMSecsSinceEpoch())
                        : QVariant(QMetaType(QMetaType::LongLong)),
        ended.isValid() ? QVariant(ended.date().toString(Qt::ISODate))
                        : QVariant(QMetaType(QMetaType::QString)),
        text(board, "started"),
        text(board, "ended"),
        text(board, "host"),
        text(board, "program"),
        text(board, "version"),
        text(board, "slot"),
        text(board, "port"),
        text(board, "serial_number"),
        text(board, "usb"),
        text(board, "location"),
        text(board, "board_id"),
        text(board, "tag"),
        result,
        text(board, "message"),
        integer(board, "bytes_sent"),
        integer(board, "blocks"),
        integer(board, "resends"),
        real(board, "seconds"),
        real(board, "reply_latency_ms"),
        text(image, "path"),
        integer(image, "bytes"),
        text(image, "sha256"),
        text(image, "format").isNull() ? QVariant(QStringLiteral("raw")) : text(image, "format"),
        text(image, "file_sha256"),
        text(job, "name"),
        integer(job, "version"),
        text(job, "sha256"),
        text(job, "key_id"),
        QString::fromUtf8(bytes),
    };
}

} // namespace recordrow
