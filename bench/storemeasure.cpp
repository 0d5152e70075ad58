#include "storemeasure.h"

#include "postgresserver.h"
#include "records/recordjson.h"
#include "store/linestore.h"
#include "store/recordrow.h"
#include "store/recordsquery.h"
#include "store/stationstore.h"
#include "testrig.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>

namespace {

constexpr int stations = 8, slotsEach = 16, days = 30, adapters = 2000, images = 12;
const QDate firstDay(2026, 11, 1);

// The n-th of `records` boards, in the order they ended, as its station wrote it.
QByteArray madeUp(int n, int records, QRandomGenerator &random)
{
    BoardRecord board;
    board.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    const int station = n % stations;
    const int slot = (n / stations) % slotsEach;
    board.slot = QStringLiteral("%1%2").arg(QChar(u'A' + slot / 4)).arg(slot % 4 + 1);
    board.port = QStringLiteral("/dev/ttyUSB%1").arg(slot);
    board.serialNumber =
        QStringLiteral("FT%1").arg(random.bounded(adapters), 5, 10, QLatin1Char('0'));
    board.usb = QStringLiteral("0403:6015");
    board.location = QStringLiteral("1-1.%1").arg(slot + 1);
    board.boardId = QStringLiteral("SN-%1").arg(n, 7, 10, QLatin1Char('0'));
    board.tag = QStringLiteral("WO-%1").arg(1700 + n / (records / days / 2 + 1));
    const int roll = int(random.bounded(1000));
    board.result = roll < 4    ? BoardResult::Cancelled
                   : roll < 30 ? BoardResult::Failed
                   : roll < 36 ? BoardResult::PortError
                               : BoardResult::Ok;
    if (board.result != BoardResult::Ok)
        board.message = QStringLiteral("no reply to block 17 within 2 s");
    board.bytesSent = 65536;
    board.blocks = 256;
    board.resends = roll % 7 == 0 ? 1 : 0;
    board.seconds = 5.8 + random.bounded(2.0);
    board.transferSeconds = board.seconds - 5.0;
    board.replyLatencyMs = 0.4 + random.bounded(0.5);
    const qint64 span = qint64(days) * 86400 * 1000;
    board.ended = QDateTime(firstDay.startOfDay(Qt::UTC)).addMSecs(span * n / records);
    board.started = board.ended.addMSecs(qint64(-board.seconds * 1000));
    ImageRecord image;
    const int which = n * images / records;
    image.path = QStringLiteral("/srv/firmware/controller-2.%1.hex").arg(which);
    image.bytes = 65000;
    image.padded = 65536;
    image.sha256 = QString::fromLatin1(
        QCryptographicHash::hash(QByteArray::number(which), QCryptographicHash::Sha256).toHex());
    image.format = QStringLiteral("ihex");
    image.base = 0x08000000;
    image.fileSha256 = image.sha256;
    QJsonObject line = recordjson::board(board);
    line.insert(QStringLiteral("image"), recordjson::image(image));
    line.insert(QStringLiteral("program"), QStringLiteral("vantyx-flash"));
    line.insert(QStringLiteral("version"), QStringLiteral(FLASHLOADER_VERSION));
    line.insert(QStringLiteral("host"), QStringLiteral("station-%1").arg(station + 1));
    return QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n';
}

QByteArray csvCell(const QVariant &value)
{
    if (value.isNull())
        return QByteArray();
    QByteArray text = value.toString().toUtf8();
    if (text.contains(',') || text.contains('"') || text.contains('\n'))
        text = '"' + text.replace("\"", "\"\"") + '"';
    return text;
}

bool run(const QString &program, const QStringList &arguments, double *seconds, QString *why)
{
    QProcess process;
    QElapsedTimer clock;
    clock.start();
    process.start(program, arguments);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        *why = QStringLiteral("%1: %2").arg(program,
                                            QString::fromLocal8Bit(process.readAllStandardError()));
        return false;
    }
    *seconds = double(clock.nsecsElapsed()) / 1e9;
    return true;
}

// A question's median time in ms over `times` askings, each of its own value.
template <typename Ask> double medianMs(int times, Ask ask)
{
    QList<double> ms;
    for (int i = 0; i < times; ++i) {
        QElapsedTimer clock;
        clock.start();
        ask(i);
        ms << double(clock.nsecsElapsed()) / 1e6;
    }
    return median(ms);
}

// The three questions asked of `database`: store_PREFIX_find_board_ms, _find_serial_ms,
// _day_summary_ms.
bool ask(const QSqlDatabase &database, const QString &prefix, int records, Figures *figures,
         QString *why)
{
    bool found = true;
    QRandomGenerator random(7);
    const double board = medianMs(50, [&](int) {
        recordsquery::Filter filter;
        filter.boardId =
            QStringLiteral("SN-%1").arg(random.bounded(records), 7, 10, QLatin1Char('0'));
        filter.limit = 50;
        found = found && recordsquery::find(database, filter, why).size() == 1;
    });
    const double serial = medianMs(50, [&](int) {
        recordsquery::Filter filter;
        filter.serial =
            QStringLiteral("FT%1").arg(random.bounded(adapters), 5, 10, QLatin1Char('0'));
        filter.limit = 50;
        found = found && !recordsquery::find(database, filter, why).isEmpty();
    });
    const double day = medianMs(5, [&](int i) {
        recordsquery::Filter filter;
        filter.day = firstDay.addDays(3 + i * 5).toString(Qt::ISODate);
        const std::optional<recordsquery::Summary> summary =
            recordsquery::summarize(database, filter, why);
        found = found && summary && summary->total.ok > 0;
    });
    if (!found) {
        *why = QStringLiteral("%1: a question found nothing (%2)").arg(prefix, *why);
        return false;
    }
    figures->add(QStringLiteral("store_%1_find_board_ms").arg(prefix), {board});
    figures->add(QStringLiteral("store_%1_find_serial_ms").arg(prefix), {serial});
    figures->add(QStringLiteral("store_%1_day_summary_ms").arg(prefix), {day});
    return true;
}

} // namespace

bool measureStores(int records, const QString &folder, Figures *figures, QString *why)
{
    const QString sqlite3 = QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
    if (sqlite3.isEmpty()) {
        *why = QStringLiteral("no sqlite3 here (Debian's sqlite3)");
        return false;
    }
    // The records as a station writes them, and the same rows as CSV for sqlite3.
    const QString lines = QDir(folder).filePath(QStringLiteral("boards.jsonl"));
    const QString csv = QDir(folder).filePath(QStringLiteral("boards.csv"));
    {
        QFile jsonl(lines), table(csv);
        if (!jsonl.open(QIODevice::WriteOnly) || !table.open(QIODevice::WriteOnly)) {
            *why = QStringLiteral("cannot write the made-up records");
            return false;
        }
        QRandomGenerator random(1742);
        for (int n = 0; n < records; ++n) {
            const QByteArray line = madeUp(n, records, random);
            jsonl.write(line);
            QByteArray row;
            const std::optional<QVariantList> columns = recordrow::of(line);
            for (const QVariant &value : *columns)
                row += csvCell(value) + ',';
            row.back() = '\n';
            table.write(row);
        }
    }

    // vantyx-records import into a new station store, and sqlite3 .import into the same tables.
    const QString ours = QDir(folder).filePath(QStringLiteral("ours.sqlite"));
    const QString plain = QDir(folder).filePath(QStringLiteral("plain.sqlite"));
    {
        StationStore empty;
        if (!empty.open(plain, why))
            return false;
    }
    double importSeconds = 0, plainSeconds = 0;
    if (!run(recordsToolPath(),
             {QStringLiteral("import"), lines, QStringLiteral("--database"), ours}, &importSeconds,
             why) ||
        !run(sqlite3, {plain, QStringLiteral(".import --csv %1 boards").arg(csv)}, &plainSeconds,
             why))
        return false;
    figures->add(QStringLiteral("store_records"), {double(records)});
    figures->add(QStringLiteral("store_sqlite_import_s"), {importSeconds});
    figures->add(QStringLiteral("store_sqlite3_import_s"), {plainSeconds});
    {
        StationStore station;
        if (!station.open(ours, why) ||
            !ask(station.database(), QStringLiteral("sqlite"), records, figures, why))
            return false;
    }

    // The line's PostgreSQL, a server of the measure's own.
    PostgresServer server;
    if (PostgresServer::programs().isEmpty())
        return true; // not measured: said in the table
    if (const QString problem = server.start(); !problem.isEmpty()) {
        *why = problem;
        return false;
    }
    double lineSeconds = 0;
    if (!run(recordsToolPath(),
             {QStringLiteral("import"), lines, QStringLiteral("--store"), server.url()},
             &lineSeconds, why))
        return false;
    figures->add(QStringLiteral("store_postgresql_import_s"), {lineSeconds});
    const QString connection = QStringLiteral("bench-line");
    if (!openLineStore(*LineStoreUrl::parse(server.url(), why), connection, why))
        return false;
    const bool asked = ask(QSqlDatabase::database(connection, false), QStringLiteral("postgresql"),
                           records, figures, why);
    QSqlDatabase::database(connection, false).close();
    QSqlDatabase::removeDatabase(connection);
    return asked;
}
