#include "cli/report.h"

#include "core/files/replacedfile.h"
#include "core/files/systemerror.h"
#include "records/recordjson.h"
#include "records/shifttally.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <cerrno>
#include <cstdio>

namespace {

const char *const totalFields[] = {"succeeded", "failed", "cancelled"};

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
    ShiftTally tally;
    for (const BoardRecord &board : boards) {
        tally.add(board);
        devices.append(recordjson::board(board));
    }
    QJsonObject document;
    const int totals[] = {tally.passed(), tally.failed(), tally.cancelled()};
    for (int i = 0; i < 3; ++i)
        document.insert(QString::fromLatin1(totalFields[i]), totals[i]);
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
        return written ? QString() : files::systemError(errno);
    }
    QString why;
    return files::replaceWhole(path, json, &why) ? QString() : why;
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
