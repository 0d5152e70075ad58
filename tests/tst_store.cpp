#include "records/recordjson.h"
#include "store/linestore.h"
#include "store/recordrow.h"
#include "store/recordsquery.h"
#include "store/stationstore.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

#include <algorithm>
#include <functional>

Q_DECLARE_METATYPE(recordsquery::Filter)
using Pick = std::function<bool(const BoardRecord &, const QString &image)>;
Q_DECLARE_METATYPE(Pick)

// The station's store: records as rows, the questions asked of them checked against the records
// themselves, the JSON Lines files read in where a crash left them, and the schema's version.
class TestStore : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void rows_data();
    void rows();
    void find_data();
    void find();
    void summary_data();
    void summary();
    void catchUp_data();
    void catchUp();
    void newerSchemaRefused();
    void lineStoreUrls_data();
    void lineStoreUrls();

private:
    QTemporaryDir dir;
    QList<BoardRecord> boards; // the store's, as written
    QList<QByteArray> lines;
    StationStore store;
};

namespace {

// The n-th of a station's made-up boards: two stations, four slots, three images, two days, a
// failure in five and a cancelled one in eleven.
BoardRecord madeUp(int n, ImageRecord *image)
{
    BoardRecord board;
    board.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    board.port = QStringLiteral("/dev/ttyUSB%1").arg(n % 4);
    board.slot = QStringLiteral("A%1").arg(n % 4 + 1);
    board.serialNumber = QStringLiteral("FT%1").arg(n % 7, 4, 10, QLatin1Char('0'));
    board.boardId = QStringLiteral("SN-%1").arg(1000 + n);
    board.tag = n % 2 ? QStringLiteral("WO-1742") : QStringLiteral("WO-1743");
    board.result = n % 11 == 10 ? BoardResult::Cancelled
                   : n % 5 == 4 ? BoardResult::Failed
                                : BoardResult::Ok;
    board.seconds = 6.0 + (n * 37 % 19) / 10.0;
    board.bytesSent = 4096;
    board.blocks = 16;
    board.ended = QDateTime(QDate(2026, 12, 8 + n % 2), QTime(8, 0).addSecs(n * 61), Qt::UTC);
    board.started = board.ended.addMSecs(qint64(-board.seconds * 1000));
    image->path = QStringLiteral("/srv/fw/image-%1.hex").arg(n % 3);
    image->bytes = 4000;
    image->padded = 4096;
    image->sha256 = QString::fromLatin1(
        QCryptographicHash::hash(QByteArray::number(n % 3), QCryptographicHash::Sha256).toHex());
    image->format = n % 3 ? QStringLiteral("ihex") : QStringLiteral("raw");
    image->fileSha256 = image->format == QStringLiteral("raw") ? QString() : image->sha256;
    return board;
}

QString resultText(const BoardRecord &board)
{
    return QJsonDocument::fromJson(recordjson::logLine(board, ImageRecord()))
        .object()
        .value(QStringLiteral("result"))
        .toString();
}

// A table's rows as text, in the key's order: two stores compared whole.
QStringList dump(const QSqlDatabase &database, const QString &table)
{
    QSqlQuery query(database);
    query.exec(QStringLiteral("SELECT * FROM %1 ORDER BY 1").arg(table));
    QStringList rows;
    while (query.next()) {
        QStringList cells;
        for (int i = 0; i < query.record().count(); ++i)
            cells << (query.isNull(i) ? QStringLiteral("NULL") : query.value(i).toString());
        rows << cells.join(QLatin1Char('|'));
    }
    return rows;
}

} // namespace

void TestStore::initTestCase()
{
    QString why;
    QVERIFY2(store.open(dir.filePath(QStringLiteral("records.sqlite")), &why), qPrintable(why));
    for (int n = 0; n < 60; ++n) {
        ImageRecord image;
        boards << madeUp(n, &image);
        lines << recordjson::logLine(boards.last(), image);
        QVERIFY2(store.add(lines.last(), false, &why), qPrintable(why));
    }
}

void TestStore::rows_data()
{
    // A line as the station wrote it, and the column asked: its value, or none for no record.
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("column");
    QTest::addColumn<QString>("value"); // "-" no row at all
    ImageRecord hex;
    BoardRecord board = madeUp(1, &hex);
    board.job = {QStringLiteral("line-b-main"), 5, QString(64, QLatin1Char('c')),
                 QStringLiteral("5B1D2F"), false};
    const QByteArray line = recordjson::logLine(board, hex).trimmed(); // as a store keeps it
    QTest::newRow("its id is the key") << line << "id" << board.id;
    QTest::newRow("the line itself, byte for byte") << line + '\n'
                                                    << "record" << QString::fromUtf8(line);
    QTest::newRow("the board's ID") << line << "board_id" << board.boardId;
    QTest::newRow("the image's format") << line << "image_format"
                                        << "ihex";
    QTest::newRow("the job") << line << "job_version"
                             << "5";
    QTest::newRow("the day it ended") << line << "day"
                                      << "2026-12-09";
    QTest::newRow("when, in ms") << line << "ended_ms"
                                 << QString::number(board.ended.toMSecsSinceEpoch());
    ImageRecord raw;
    const BoardRecord rawBoard = madeUp(3, &raw);
    QTest::newRow("a raw image says none: raw")
        << recordjson::logLine(rawBoard, raw) << "image_format"
        << "raw";
    QTest::newRow("no job: none") << recordjson::logLine(rawBoard, raw) << "job_name"
                                  << "NULL";
    BoardRecord older = rawBoard;
    older.id.clear();
    QTest::newRow("a record from before IDs: one made from its bytes")
        << recordjson::logLine(older, raw) << "id"
        << QStringLiteral("line-") +
               QString::fromLatin1(
                   QCryptographicHash::hash(recordjson::logLine(older, raw).trimmed(),
                                            QCryptographicHash::Sha256)
                       .toHex()
                       .left(32));
    QTest::newRow("cut short by a crash") << line.left(line.size() / 2) << "id"
                                          << "-";
    QTest::newRow("blank") << QByteArray("\n") << "id"
                           << "-";
    QTest::newRow("not an object") << QByteArray("[1, 2]\n") << "id"
                                   << "-";
    QTest::newRow("no result") << QByteArray(R"({"id": "x", "port": "COM3"})") << "id"
                               << "-";
}

void TestStore::rows()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, column);
    QFETCH(QString, value);
    const std::optional<QVariantList> row = recordrow::of(line);
    if (value == QStringLiteral("-")) {
        QVERIFY(!row);
        return;
    }
    QVERIFY(row);
    const qsizetype at = recordrow::columnNames().indexOf(column);
    QVERIFY(at >= 0);
    const QVariant cell = row->at(at);
    QCOMPARE(cell.isNull() ? QStringLiteral("NULL") : cell.toString(), value);
}

void TestStore::find_data()
{
    // A filter, and which of the made-up boards it should find: decided from the records.
    QTest::addColumn<recordsquery::Filter>("filter");
    QTest::addColumn<Pick>("pick");
    const auto row = [](const char *name, auto set, Pick pick) {
        recordsquery::Filter filter;
        set(filter);
        QTest::newRow(name) << filter << pick;
    };
    row(
        "a board's history", [](auto &f) { f.boardId = QStringLiteral("SN-1007"); },
        [](const BoardRecord &b, auto) { return b.boardId == QStringLiteral("SN-1007"); });
    row(
        "an adapter's serial", [](auto &f) { f.serial = QStringLiteral("FT0003"); },
        [](const BoardRecord &b, auto) { return b.serialNumber == QStringLiteral("FT0003"); });
    const QString image1 =
        QString::fromLatin1(QCryptographicHash::hash("1", QCryptographicHash::Sha256).toHex());
    row(
        "an image by its hash's start, in capitals",
        [&](auto &f) { f.imagePrefix = image1.left(6).toUpper(); },
        [=](const BoardRecord &, const QString &image) { return image == image1; });
    row(
        "a slot on a day",
        [](auto &f) {
            f.slot = QStringLiteral("A2");
            f.day = QStringLiteral("2026-12-09");
        },
        [](const BoardRecord &b, auto) {
            return b.slot == QStringLiteral("A2") && b.ended.date() == QDate(2026, 12, 9);
        });
    row(
        "a tag's failures",
        [](auto &f) {
            f.tag = QStringLiteral("WO-1742");
            f.result = QStringLiteral("failed");
        },
        [](const BoardRecord &b, auto) {
            return b.tag == QStringLiteral("WO-1742") && resultText(b) == QStringLiteral("failed");
        });
    const QDateTime from(QDate(2026, 12, 8), QTime(8, 20), Qt::UTC);
    const QDateTime to(QDate(2026, 12, 8), QTime(8, 40), Qt::UTC);
    row(
        "a time range, its end left out",
        [&](auto &f) {
            f.from = from;
            f.to = to;
        },
        [=](const BoardRecord &b, auto) { return b.ended >= from && b.ended < to; });
    row(
        "nothing", [](auto &f) { f.boardId = QStringLiteral("SN-0"); },
        [](const BoardRecord &, auto) { return false; });
}

void TestStore::find()
{
    QFETCH(recordsquery::Filter, filter);
    QFETCH(Pick, pick);
    QStringList expected;
    QList<QDateTime> ends;
    for (int i = 0; i < boards.size(); ++i) {
        const QString image = QJsonDocument::fromJson(lines.at(i))
                                  .object()
                                  .value(QStringLiteral("image"))
                                  .toObject()
                                  .value(QStringLiteral("sha256"))
                                  .toString();
        if (pick(boards.at(i), image))
            expected << boards.at(i).id;
    }
    QString why;
    const QList<QJsonObject> found = recordsquery::find(store.database(), filter, &why);
    QVERIFY2(why.isEmpty(), qPrintable(why));
    QStringList ids;
    for (const QJsonObject &board : found) {
        ids << board.value(QStringLiteral("id")).toString();
        ends << QDateTime::fromMSecsSinceEpoch(board.value(QStringLiteral("ended_ms")).toInteger());
    }
    QVERIFY(std::is_sorted(ends.rbegin(), ends.rend())); // newest first
    ids.sort();
    expected.sort();
    QCOMPARE(ids, expected);
}

void TestStore::summary_data()
{
    QTest::addColumn<QString>("day"); // "" all
    QTest::addColumn<QString>("slot");
    QTest::newRow("the whole store") << ""
                                     << "";
    QTest::newRow("a day") << "2026-12-08"
                           << "";
    QTest::newRow("a slot on a day") << "2026-12-09"
                                     << "A2";
}

void TestStore::summary()
{
    QFETCH(QString, day);
    QFETCH(QString, slot);
    // The figures counted from the records themselves.
    int ok = 0, failed = 0, cancelled = 0;
    QList<double> okSeconds;
    QMap<QString, int> okBySlot, failedBySlot;
    QSet<QString> slotNames;
    QDateTime first, last;
    for (const BoardRecord &board : std::as_const(boards)) {
        if ((!day.isEmpty() && board.ended.date().toString(Qt::ISODate) != day) ||
            (!slot.isEmpty() && board.slot != slot))
            continue;
        const QString result = resultText(board);
        slotNames << board.slot;
        if (result == QStringLiteral("ok")) {
            ++ok;
            ++okBySlot[board.slot];
            okSeconds << board.seconds;
        } else if (result == QStringLiteral("cancelled")) {
            ++cancelled;
        } else {
            ++failed;
            ++failedBySlot[board.slot];
        }
        first = first.isValid() ? qMin(first, board.ended) : board.ended;
        last = last.isValid() ? qMax(last, board.ended) : board.ended;
    }
    std::sort(okSeconds.begin(), okSeconds.end());
    const double median =
        okSeconds.size() % 2
            ? okSeconds.at(okSeconds.size() / 2)
            : (okSeconds.at(okSeconds.size() / 2 - 1) + okSeconds.at(okSeconds.size() / 2)) / 2;
    recordsquery::Filter filter;
    filter.day = day;
    filter.slot = slot;
    QString why;
    const std::optional<recordsquery::Summary> summary =
        recordsquery::summarize(store.database(), filter, &why);
    QVERIFY2(summary, qPrintable(why));
    QCOMPARE(summary->total.ok, ok);
    QCOMPARE(summary->total.failed, failed);
    QCOMPARE(summary->total.cancelled, cancelled);
    QCOMPARE(summary->total.yield(), double(ok) / (ok + failed));
    QCOMPARE(summary->medianSeconds, median);
    QCOMPARE(summary->boardsPerHour, (ok + failed) / qMax(1.0, first.msecsTo(last) / 3600000.0));
    QCOMPARE(summary->bySlot.size(), slotNames.size());
    for (const recordsquery::Summary::Part &part : summary->bySlot) {
        QCOMPARE(part.ok, okBySlot.value(part.name));
        QCOMPARE(part.failed, failedBySlot.value(part.name));
    }
}

void TestStore::catchUp_data()
{
    // What a station's file holds at each start, and the records the store takes: a file read
    // on from where it was left, a line a crash cut short read once whole, a line the store
    // took live never twice, a file made anew under its name read from its start.
    QTest::addColumn<QString>("script"); // "+N" N lines written; "~" half a line; "=N" N
                                         // added live; "new" the file made anew; "?N" the start
                                         // reads N new records
    QTest::newRow("lines since the last start") << "+3 ?3 +2 ?2 ?0";
    QTest::newRow("a line cut short, then ended") << "+1 ~ ?1 +1 ?1";
    QTest::newRow("lines the store took live") << "+2 =2 +1 ?1";
    QTest::newRow("the file made anew") << "+4 ?4 new +2 ?2";
}

void TestStore::catchUp()
{
    QFETCH(QString, script);
    const QStringList steps = script.split(QLatin1Char(' '));
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("boards.jsonl"));
    QByteArray written; // what the file holds
    QList<QByteArray> unadded;
    int made = 0;
    QString half;
    StationStore live;
    QString why;
    QVERIFY2(live.open(folder.filePath(QStringLiteral("records.sqlite")), &why), qPrintable(why));
    const auto save = [&] {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(written);
    };
    for (const QString &step : std::as_const(steps)) {
        const int n = step.mid(1).toInt();
        if (step.startsWith(QLatin1Char('+'))) {
            if (written.size() && !written.endsWith('\n'))
                written += '\n'; // the log ends a partial line before its next one
            for (int i = 0; i < n; ++i) {
                ImageRecord image;
                const QByteArray line = recordjson::logLine(madeUp(made++, &image), image);
                written += line + '\n';
                unadded << line;
            }
        } else if (step == QStringLiteral("~")) {
            ImageRecord image;
            const QByteArray line = recordjson::logLine(madeUp(made++, &image), image);
            written += line.left(line.size() / 2);
        } else if (step.startsWith(QLatin1Char('='))) {
            for (int i = 0; i < n; ++i)
                QVERIFY(live.add(unadded.takeFirst(), false, &why));
        } else if (step == QStringLiteral("new")) {
            written.clear();
        } else {
            save();
            QCOMPARE(live.catchUp({path}, true, &why), n);
        }
        if (!step.startsWith(QLatin1Char('?')))
            save();
    }
    // The store holds the file's records, one of each, and one kept from the start the file
    // was made anew; a store made afresh from the same file holds the same rows.
    StationStore fresh;
    QVERIFY(fresh.open(folder.filePath(QStringLiteral("fresh.sqlite")), &why));
    QVERIFY(fresh.catchUp({path}, true, &why) >= 0);
    QStringList fromFile = dump(fresh.database(), QStringLiteral("boards"));
    QStringList kept = dump(live.database(), QStringLiteral("boards"));
    if (!steps.contains(QStringLiteral("new")))
        QCOMPARE(kept, fromFile);
    else
        QVERIFY(std::all_of(fromFile.begin(), fromFile.end(),
                            [&](const QString &row) { return kept.contains(row); }));
    QCOMPARE(live.unsent(), steps.contains(QStringLiteral("=2")) ? kept.size() - 2 : kept.size());
}

void TestStore::newerSchemaRefused()
{
    // A store a later program made is not written by this one.
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("records.sqlite"));
    QString why;
    {
        StationStore made;
        QVERIFY(made.open(path, &why));
        QSqlQuery later(made.database());
        QVERIFY(later.exec(QStringLiteral("UPDATE vantyx_schema SET version = 2")));
    }
    StationStore older;
    QVERIFY(!older.open(path, &why));
    QCOMPARE(why, path + QStringLiteral(": the store is of a newer schema (2) than this program "
                                        "knows (1)"));
}

void TestStore::lineStoreUrls_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown"); // "" refused
    QTest::addColumn<QString>("password");
    QTest::newRow("user, host, port, database") << "postgresql://qa@line-b:5433/vantyx"
                                                << "postgresql://qa@line-b:5433/vantyx"
                                                << "";
    QTest::newRow("the default port") << "postgresql://qa@10.0.0.5/vantyx"
                                      << "postgresql://qa@10.0.0.5:5432/vantyx"
                                      << "";
    QTest::newRow("a password is never shown") << "postgres://qa:s3cret@db/line"
                                               << "postgresql://qa@db:5432/line"
                                               << "s3cret";
    QTest::newRow("no user") << "postgresql://line-b/vantyx"
                             << ""
                             << "";
    QTest::newRow("no database") << "postgresql://qa@line-b:5432/"
                                 << ""
                                 << "";
    QTest::newRow("another scheme") << "mysql://qa@line-b/vantyx"
                                    << ""
                                    << "";
    QTest::newRow("not a URL") << "line-b"
                               << ""
                               << "";
}

void TestStore::lineStoreUrls()
{
    QFETCH(QString, text);
    QFETCH(QString, shown);
    QFETCH(QString, password);
    QString why;
    const std::optional<LineStoreUrl> url = LineStoreUrl::parse(text, &why);
    QCOMPARE(url.has_value(), !shown.isEmpty());
    if (!url) {
        QCOMPARE(why, text + QStringLiteral(": give postgresql://USER@HOST:PORT/DATABASE"));
        return;
    }
    QCOMPARE(url->shown(), shown);
    QCOMPARE(url->password, password);
}

QTEST_GUILESS_MAIN(TestStore)
#include "tst_store.moc"
