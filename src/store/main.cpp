// vantyx-records: asks the record stores what a quality engineer asks: a board's history, an
// image's boards, a shift's or a day's figures; exports them; imports and rebuilds from the
// JSON Lines files, and forwards a station's waiting records to the line's store.

#include "core/terminal/terminal.h"
#include "records/boardlog.h"
#include "store/lineforwarder.h"
#include "store/linestore.h"
#include "store/recordrow.h"
#include "store/recordsquery.h"
#include "store/stationstore.h"
#include "store/storeschema.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <cstdio>
#include <memory>

namespace {

const char description[] =
    "Asks the record stores: the station's own (an SQLite file beside the daily records, kept by\n"
    "vantyx-flash and vantyx-bench), or the line's PostgreSQL (--store).\n"
    "\n"
    "  vantyx-records find --board-id SN-1234\n"
    "  vantyx-records find --image 3f1c --from 2026-12-08 --to 2026-12-09\n"
    "  vantyx-records summary --day 2026-12-09 --store postgresql://qa@line-b/vantyx\n"
    "  vantyx-records export --csv --tag WO-1742 > wo-1742.csv\n"
    "  vantyx-records import shift-*.jsonl --store postgresql://qa@line-b/vantyx\n"
    "  vantyx-records rebuild                (the station's store, from its daily files)\n"
    "  vantyx-records forward --store URL    (the station's waiting records, to the line's)\n"
    "\n"
    "Exit status: 0 done, 1 found nothing, 2 bad usage, 3 a store cannot be opened or read.\n";

int usage(const QString &why)
{
    return terminal::complainOfUsage(why);
}

int failed(const QString &why)
{
    return terminal::complain(why, 3);
}

// A table that fits the terminal: the last column is cut to what is left.
void printTable(const QStringList &header, const QList<QStringList> &rows)
{
    QList<int> widths;
    for (const QString &title : header)
        widths << int(title.size());
    for (const QStringList &row : rows)
        for (int i = 0; i < row.size(); ++i)
            widths[i] = qMax(widths[i], int(row.at(i).size()));
    int used = 0;
    for (int i = 0; i + 1 < widths.size(); ++i)
        used += widths[i] + 2;
    // The terminal's own width; into a file or a pipe, a generous one.
    const int columns = terminal::isTerminal(stdout) ? terminal::width(stdout) : 160;
    widths.last() = qMax(8, qMin(widths.last(), columns - used - 1));
    const auto line = [&](const QStringList &cells) {
        QString text;
        for (int i = 0; i < cells.size(); ++i) {
            QString cell = cells.at(i);
            if (cell.size() > widths[i])
                cell = cell.left(widths[i] - 1) + QChar(0x2026);
            text += i + 1 < cells.size() ? cell.leftJustified(widths[i] + 2) : cell;
        }
        std::printf("%s\n", qPrintable(text.trimmed()));
    };
    line(header);
    for (const QStringList &row : rows)
        line(row);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vantyx-records"));
    QCoreApplication::setApplicationVersion(QStringLiteral(FLASHLOADER_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(description));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        {QStringLiteral("store"),
         QStringLiteral("The line's store, postgresql://USER@HOST:PORT/DB."),
         QStringLiteral("url")},
        {QStringLiteral("database"),
         QStringLiteral("A station's store file (default: this station's)."),
         QStringLiteral("file")},
        {QStringLiteral("board-id"), QStringLiteral("Boards of this ID."), QStringLiteral("id")},
        {QStringLiteral("serial"), QStringLiteral("Boards on the adapter of this USB serial."),
         QStringLiteral("serial")},
        {QStringLiteral("image"), QStringLiteral("Boards sent the image whose SHA-256 starts so."),
         QStringLiteral("sha256")},
        {QStringLiteral("slot"), QStringLiteral("Boards of this slot."), QStringLiteral("name")},
        {QStringLiteral("station"), QStringLiteral("Boards of this station (its host name)."),
         QStringLiteral("host")},
        {QStringLiteral("tag"), QStringLiteral("Boards of this tag (a shift, a work order)."),
         QStringLiteral("text")},
        {QStringLiteral("result"), QStringLiteral("Boards that ended so (ok, failed, ...)."),
         QStringLiteral("result")},
        {QStringLiteral("day"), QStringLiteral("Boards that ended on this day (YYYY-MM-DD)."),
         QStringLiteral("date")},
        {QStringLiteral("from"),
         QStringLiteral("Boards that ended from then (date or date and time)."),
         QStringLiteral("time")},
        {QStringLiteral("to"), QStringLiteral("Boards that ended before then."),
         QStringLiteral("time")},
        {QStringLiteral("limit"),
         QStringLiteral("find: at most this many, newest first (default 50)."),
         QStringLiteral("n")},
        {QStringLiteral("json"), QStringLiteral("find, summary: JSON rather than a table.")},
        {QStringLiteral("csv"), QStringLiteral("export: comma-separated values, a row a board.")},
    });
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("find, summary, export, import FILE..., rebuild "
                                                "[FILE...], forward"));
    if (!parser.parse(QCoreApplication::arguments()))
        return usage(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        std::printf("vantyx-records %s\n", FLASHLOADER_VERSION);
        return 0;
    }
    const QStringList arguments = parser.positionalArguments();
    if (arguments.isEmpty())
        return usage(QStringLiteral("give a command: find, summary, export, import, rebuild or "
                                    "forward"));
    const QString command = arguments.first();
    const QStringList files = arguments.mid(1);
    const QStringList commands{QStringLiteral("find"),    QStringLiteral("summary"),
                               QStringLiteral("export"),  QStringLiteral("import"),
                               QStringLiteral("rebuild"), QStringLiteral("forward")};
    if (!commands.contains(command))
        return usage(QStringLiteral("unknown command %1").arg(command));
    if (!files.isEmpty() && command != QStringLiteral("import") &&
        command != QStringLiteral("rebuild"))
        return usage(QStringLiteral("unexpected argument %1").arg(files.first()));
    if (command == QStringLiteral("import") && files.isEmpty())
        return usage(QStringLiteral("import takes the JSON Lines files to read"));

    recordsquery::Filter filter;
    filter.boardId = parser.value(QStringLiteral("board-id"));
    filter.serial = parser.value(QStringLiteral("serial"));
    filter.imagePrefix = parser.value(QStringLiteral("image"));
    filter.slot = parser.value(QStringLiteral("slot"));
    filter.station = parser.value(QStringLiteral("station"));
    filter.tag = parser.value(QStringLiteral("tag"));
    filter.result = parser.value(QStringLiteral("result"));
    filter.day = parser.value(QStringLiteral("day"));
    for (const auto &[option, time] :
         {std::pair<const char *, QDateTime *>{"from", &filter.from}, {"to", &filter.to}}) {
        const QString text = parser.value(QLatin1String(option));
        if (text.isEmpty())
            continue;
        *time = QDateTime::fromString(text, Qt::ISODate);
        if (!time->isValid())
            *time = QDate::fromString(text, Qt::ISODate).startOfDay();
        if (!time->isValid())
            return usage(QStringLiteral("--%1 takes a date or a date and time (ISO 8601)")
                             .arg(QLatin1String(option)));
    }
    bool ok = true;
    filter.limit = parser.isSet(QStringLiteral("limit"))
                       ? parser.value(QStringLiteral("limit")).toInt(&ok)
                       : (command == QStringLiteral("find") ? 50 : 0);
    if (!ok || filter.limit < 0)
        return usage(QStringLiteral("--limit takes a number"));
    if (command == QStringLiteral("export") && !parser.isSet(QStringLiteral("csv")) &&
        !parser.isSet(QStringLiteral("json")))
        return usage(QStringLiteral("export takes --csv or --json"));

    QString why;
    const QString stationPath = parser.isSet(QStringLiteral("database"))
                                    ? parser.value(QStringLiteral("database"))
                                    : StationStore::defaultPath();
    if (command == QStringLiteral("rebuild")) {
        // A new store from the JSON Lines files, then put in the old one's place.
        const QStringList sources =
            files.isEmpty() ? BoardLog::dailyFiles(BoardLog::dailyFolder()) : files;
        const QString fresh = stationPath + QStringLiteral(".rebuilding");
        QFile::remove(fresh);
        int added = 0;
        {
            StationStore store;
            if (!store.open(fresh, &why) || (added = store.catchUp(sources, false, &why)) < 0)
                return failed(why);
        }
        for (const char *side : {"", "-wal", "-shm"})
            QFile::remove(stationPath + QLatin1String(side));
        if (!QFile::rename(fresh, stationPath))
            return failed(QStringLiteral("cannot put %1 in place").arg(stationPath));
        std::printf("%d records from %lld files into %s\n", added,
                    static_cast<long long>(sources.size()), qPrintable(stationPath));
        return 0;
    }
    if (command == QStringLiteral("forward")) {
        if (!parser.isSet(QStringLiteral("store")))
            return usage(QStringLiteral("forward takes --store URL"));
        const std::optional<LineStoreUrl> url =
            LineStoreUrl::parse(parser.value(QStringLiteral("store")), &why);
        if (!url)
            return usage(why);
        StationStore station;
        if (!station.open(stationPath, &why))
            return failed(why);
        const QString line = QStringLiteral("line");
        if (!openLineStore(*url, line, &why))
            return failed(why);
        int sent = 0;
        bool lineFailed = false;
        for (int batch; (batch = sendBatch(station.database(), QSqlDatabase::database(line, false),
                                           &why, &lineFailed)) != 0;) {
            if (batch < 0)
                return failed(why);
            sent += batch;
        }
        std::printf("%d records sent to %s\n", sent, qPrintable(url->shown()));
        return 0;
    }

    // The store asked: the line's, or the station's.
    std::unique_ptr<StationStore> station;
    QSqlDatabase database;
    if (parser.isSet(QStringLiteral("store"))) {
        const std::optional<LineStoreUrl> url =
            LineStoreUrl::parse(parser.value(QStringLiteral("store")), &why);
        if (!url)
            return usage(why);
        if (!openLineStore(*url, QStringLiteral("line"), &why))
            return failed(why);
        database = QSqlDatabase::database(QStringLiteral("line"), false);
    } else {
        if (command != QStringLiteral("import") && !QFile::exists(stationPath))
            return failed(QStringLiteral("no station store at %1").arg(stationPath));
        station = std::make_unique<StationStore>();
        if (!station->open(stationPath, &why))
            return failed(why);
        database = station->database();
    }

    const bool json = parser.isSet(QStringLiteral("json"));
    if (command == QStringLiteral("import")) {
        const int added = recordsquery::importFiles(database, files, &why);
        if (added < 0)
            return failed(why);
        std::printf("%d new records from %lld files\n", added,
                    static_cast<long long>(files.size()));
        return 0;
    }
    if (command == QStringLiteral("summary")) {
        const std::optional<recordsquery::Summary> summary =
            recordsquery::summarize(database, filter, &why);
        if (!summary)
            return failed(why);
        if (json) {
            std::printf("%s\n", QJsonDocument(summary->toJson()).toJson().constData());
            return 0;
        }
        const auto &total = summary->total;
        std::printf("%d ok, %d failed, %d cancelled: yield %.1f%%, %.1f boards an hour, median "
                    "%.1f s a board\n",
                    total.ok, total.failed, total.cancelled, total.yield() * 100,
                    summary->boardsPerHour, summary->medianSeconds);
        QStringList results;
        for (const auto &[result, count] : summary->byResult)
            results << QStringLiteral("%1 %2").arg(result).arg(count);
        std::printf("by result: %s\n", qPrintable(results.join(QStringLiteral(", "))));
        for (const auto &[title, list] : {std::pair<QString, QList<recordsquery::Summary::Part>>{
                                              QStringLiteral("slot"), summary->bySlot},
                                          {QStringLiteral("station"), summary->byStation}}) {
            QList<QStringList> rows;
            for (const auto &part : list)
                rows << QStringList{part.name.isEmpty() ? QStringLiteral("-") : part.name,
                                    QString::number(part.ok), QString::number(part.failed),
                                    QString::number(part.cancelled),
                                    QStringLiteral("%1%").arg(part.yield() * 100, 0, 'f', 1)};
            std::printf("\n");
            printTable({title, QStringLiteral("ok"), QStringLiteral("failed"),
                        QStringLiteral("cancelled"), QStringLiteral("yield")},
                       rows);
        }
        return total.ok + total.failed + total.cancelled > 0 ? 0 : 1;
    }
    const QList<QJsonObject> boards = recordsquery::find(database, filter, &why);
    if (!why.isEmpty())
        return failed(why);
    if (command == QStringLiteral("export")) {
        if (json) { // the records themselves, a line each, as the station wrote them
            for (const QJsonObject &board : boards)
                std::printf("%s\n", qPrintable(board.value(QStringLiteral("record")).toString()));
            return 0;
        }
        QStringList columns = recordrow::columnNames();
        columns.removeAll(QStringLiteral("record"));
        std::printf("%s\n", qPrintable(columns.join(QLatin1Char(','))));
        for (const QJsonObject &board : boards) {
            QStringList cells;
            for (const QString &column : std::as_const(columns)) {
                QString cell = board.value(column).toVariant().toString();
                if (cell.contains(QLatin1Char(',')) || cell.contains(QLatin1Char('"')) ||
                    cell.contains(QLatin1Char('\n')))
                    cell = QLatin1Char('"') +
                           cell.replace(QLatin1Char('"'), QStringLiteral("\"\"")) +
                           QLatin1Char('"');
                cells << cell;
            }
            std::printf("%s\n", qPrintable(cells.join(QLatin1Char(','))));
        }
        return 0;
    }
    // find
    if (json) {
        QJsonArray array;
        for (QJsonObject board : boards)
            array.append(
                QJsonDocument::fromJson(board.value(QStringLiteral("record")).toString().toUtf8())
                    .object());
        std::printf("%s\n", QJsonDocument(array).toJson().constData());
        return boards.isEmpty() ? 1 : 0;
    }
    QList<QStringList> rows;
    for (const QJsonObject &board : boards)
        rows << QStringList{board.value(QStringLiteral("ended")).toString().left(19),
                            board.value(QStringLiteral("host")).toString(),
                            board.value(QStringLiteral("slot")).toString(),
                            board.value(QStringLiteral("board_id")).toString(),
                            board.value(QStringLiteral("serial_number")).toString(),
                            board.value(QStringLiteral("result")).toString(),
                            board.value(QStringLiteral("image_sha256")).toString().left(12),
                            board.value(QStringLiteral("message")).toString()};
    if (!boards.isEmpty())
        printTable({QStringLiteral("ended"), QStringLiteral("station"), QStringLiteral("slot"),
                    QStringLiteral("board"), QStringLiteral("serial"), QStringLiteral("result"),
                    QStringLiteral("image"), QStringLiteral("message")},
                   rows);
    return boards.isEmpty() ? 1 : 0;
}
