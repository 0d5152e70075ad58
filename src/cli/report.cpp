#include "cli/report.h"

#include "records/recordjson.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStringList>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

const char *const totalFields[] = {"succeeded", "failed"};

QString quoted(const QList<const char *> &names)
{
    QStringList list;
    for (const char *name : names)
        list << QLatin1Char('"') + QString::fromLatin1(name) + QLatin1Char('"');
    return list.join(QStringLiteral(", "));
}

} // namespace

QByteArray jsonReport(const ImageRecord &image, const QList<BoardRecord> &boards)
{
    QJsonArray devices;
    int succeeded = 0;
    for (const BoardRecord &board : boards) {
        succeeded += board.result == BoardResult::Ok;
        devices.append(recordjson::board(board));
    }
    QJsonObject document;
    document.insert(QString::fromLatin1(totalFields[0]), succeeded);
    document.insert(QString::fromLatin1(totalFields[1]), int(boards.size()) - succeeded);
    document.insert(QStringLiteral("image"), recordjson::image(image));
    document.insert(QStringLiteral("devices"), devices);
    return QJsonDocument(document).toJson(QJsonDocument::Indented);
}

QString writeReport(const QString &path, const QByteArray &json)
{
    if (path == QStringLiteral("-")) {
        const bool written =
            std::fwrite(json.constData(), 1, size_t(json.size()), stdout) == size_t(json.size()) &&
            std::fflush(stdout) == 0;
        return written ? QString() : QString::fromLocal8Bit(std::strerror(errno));
    }
    const QFileInfo target(path);
    if (target.exists() && !target.isFile()) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(json) != json.size() || !file.flush())
            return file.errorString();
        return QString();
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(json) != json.size() || !file.commit())
        return file.errorString();
    return QString();
}

QString jsonLayout()
{
    QStringList results;
    for (BoardResult result : {BoardResult::Ok, BoardResult::Failed, BoardResult::NotDetected,
                               BoardResult::PortError, BoardResult::Cancelled})
        results << resultName(result);
    QString boards = quoted(recordjson::boardFields());
    boards.replace(QStringLiteral("\"result\""),
                   QStringLiteral("\"result\" (%1)").arg(results.join(QStringLiteral(", "))));
    return QStringLiteral("JSON (--json): {\"image\": {%1}, \"devices\": [{%2}], %3}; with "
                          "--slots and --tag, each device has \"slot\" and \"tag\" too; for a "
                          "HEX or S-record file the image has \"format\", \"base_address\" and "
                          "\"file_sha256\".")
        .arg(quoted(recordjson::imageFields()), boards,
             quoted(QList<const char *>(std::begin(totalFields), std::end(totalFields))));
}
