#include "postgresserver.h"
#include "store/linestore.h"
#include "store/recordrow.h"
#include "testrig.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

// The line's store on a real PostgreSQL: stations flashing at once, the server away and back,
// stations killed at random moments; every record in the JSON Lines files, in each station's
// SQLite and in the line's store, once.
class TestLineStore : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void twoStationsAtOnce();
    void recordsTool_data();
    void recordsTool();
    void serverAway();
    void storeSoak_data();
    void storeSoak();

private:
    // vantyx-flash as a station of its own (its data folder): its boards, its log, the line's
    // store; started, not waited for.
    void startStation(QProcess *tool, const QString &name, const QStringList &ports,
                      const QStringList &more = {});
    QString stationFolder(const QString &name) const
    {
        return dir.filePath(QStringLiteral("station-") + name);
    }
    QString stationLog(const QString &name) const
    {
        return stationFolder(name) + QStringLiteral(".jsonl");
    }
    QString stationStore(const QString &name) const
    {
        return stationFolder(name) + QStringLiteral("/Brivox/vantyx-records/records.sqlite");
    }
    // Runs vantyx-records; its exit status, what it wrote in `output`.
    int records(const QStringList &arguments, QString *output);

    PostgresServer server;
    QTemporaryDir dir;
    QString image;
};

namespace {

// The records of JSON Lines files, by ID, as their lines (newline taken off).
QMap<QString, QByteArray> linesOf(const QStringList &files)
{
    QMap<QString, QByteArray> lines;
    for (const QString &name : files) {
        QFile file(name);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : file.readAll().split('\n')) {
            const std::optional<QVariantList> row = recordrow::of(line);
            if (!row)
                continue;
            const QString id = row->first().toString();
            if (lines.contains(id)) // the same record twice in the files: never
                qWarning("record %s twice in the files", qPrintable(id));
            lines.insert(id, line);
        }
    }
    return lines;
}

// A store's rows by ID, each as recordrow's columns.
QMap<QString, QVariantList> rowsOf(const QSqlDatabase &database, int *count)
{
    QSqlQuery query(database);
    query.exec(QStringLiteral("SELECT %1 FROM boards")
                   .arg(recordrow::columnNames().join(QStringLiteral(", "))));
    QMap<QString, QVariantList> rows;
    *count = 0;
    while (query.next()) {
        QVariantList row;
        for (int i = 0; i < query.record().count(); ++i)
            row << query.value(i);
        rows.insert(row.first().toString(), row);
        ++*count;
    }
    return rows;
}

QString cellText(const QVariant &value)
{
    return value.isNull() ? QStringLiteral("NULL") : value.toString();
}

// Empty when the store holds exactly the records of `lines`, each field as the line says it.
QString compare(const QString &storeName, const QSqlDatabase &database,
                const QMap<QString, QByteArray> &lines)
{
    int count = 0;
    const QMap<QString, QVariantList> rows = rowsOf(database, &count);
    if (count != lines.size())
        return QStringLiteral("%1: %2 rows for %3 records")
            .arg(storeName)
            .arg(count)
            .arg(lines.size());
    const QStringList columns = recordrow::columnNames();
    for (auto line = lines.cbegin(); line != lines.cend(); ++line) {
        if (!rows.contains(line.key()))
            return QStringLiteral("%1: %2 missing").arg(storeName, line.key());
        const QVariantList expected = *recordrow::of(line.value());
        const QVariantList &row = rows.value(line.key());
        for (int i = 0; i < columns.size(); ++i)
            if (cellText(row.at(i)) != cellText(expected.at(i)))
                return QStringLiteral("%1: %2's %3 is %4, the line says %5")
                    .arg(storeName, line.key(), columns.at(i), cellText(row.at(i)),
                         cellText(expected.at(i)));
    }
    return QString();
}

// The line's store, opened by the program's own code; the connection's name.
QString lineConnection(const QString &url)
{
    QString why;
    const QString name = QStringLiteral("test-line");
    if (!openLineStore(*LineStoreUrl::parse(url, &why), name, &why))
        qWarning("line store: %s", qPrintable(why));
    return name;
}

// A station's SQLite store, read beside its program.
QSqlDatabase stationDatabase(const QString &path)
{
    const QString name = QStringLiteral("test-station-") + path;
    QSqlDatabase database = QSqlDatabase::contains(name)
                                ? QSqlDatabase::database(name)
                                : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    database.setDatabaseName(path);
    database.open();
    return database;
}

int countOf(const QSqlDatabase &database, const QString &statement)
{
    QSqlQuery query(database);
    return query.exec(statement) && query.next() ? query.value(0).toInt() : -1;
}

} // namespace

void TestLineStore::initTestCase()
{
    if (PostgresServer::programs().isEmpty())
        QSKIP("No PostgreSQL server here (Debian's postgresql; scripts/dev.sh installs it).");
    const QString why = server.start();
    QVERIFY2(why.isEmpty(), qPrintable(why));
    image = writeSettledFile(dir.path(), QStringLiteral("fw.bin"), patternImage(8 * 256 + 9, 71));
}

void TestLineStore::startStation(QProcess *tool, const QString &name, const QStringList &ports,
                                 const QStringList &more)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_DATA_HOME"), stationFolder(name));
    tool->setProcessEnvironment(environment);
    QStringList arguments{QStringLiteral("--log"), stationLog(name), QStringLiteral("--tag"),
                          QStringLiteral("WO-") + name};
    for (const QString &port : ports)
        arguments << QStringLiteral("--port") << port;
    tool->start(flashToolPath(), arguments + more + QStringList{image});
}

int TestLineStore::records(const QStringList &arguments, QString *output)
{
    QProcess tool;
    tool.start(recordsToolPath(), arguments);
    if (!tool.waitForFinished(60000))
        return -1;
    *output = QString::fromUtf8(tool.readAllStandardOutput() + tool.readAllStandardError());
    return tool.exitCode();
}

void TestLineStore::twoStationsAtOnce()
{
    // Two stations of four boards each, one a faulty board, flashing at once into the line's
    // store: its rows are the union of both stations' JSON Lines, every field as the lines say.
    SimulatorProcess first, second;
    QVERIFY(first.start({QStringLiteral("--pty"), QStringLiteral("--count"), QStringLiteral("4")}));
    QVERIFY(
        second.start({QStringLiteral("--pty"), QStringLiteral("--count"), QStringLiteral("3")}));
    const QStringList firstPorts = first.ports(4);
    QStringList secondPorts = second.ports(3);
    const auto faulty = ptyDevice([] {
        devicesim::Script script;
        script.silentFromBlock = 2;
        return script;
    }());
    secondPorts << faulty->portName();
    QCOMPARE(firstPorts.size(), 4);
    QCOMPARE(secondPorts.size(), 4);
    QProcess a, b;
    startStation(&a, QStringLiteral("a"), firstPorts, {QStringLiteral("--store"), server.url()});
    startStation(&b, QStringLiteral("b"), secondPorts, {QStringLiteral("--store"), server.url()});
    QVERIFY(a.waitForFinished(60000));
    QTRY_VERIFY_WITH_TIMEOUT(b.state() == QProcess::NotRunning, 60000); // the faulty board's
    QCOMPARE(a.exitCode(), 0);
    QCOMPARE(b.exitCode(), 1);
    QVERIFY2(!a.readAllStandardError().contains("wait for the line's store"), "a kept some");
    const QMap<QString, QByteArray> lines =
        linesOf({stationLog(QStringLiteral("a")), stationLog(QStringLiteral("b"))});
    QCOMPARE(lines.size(), 8);
    const QSqlDatabase line = QSqlDatabase::database(lineConnection(server.url()));
    QString why = compare(QStringLiteral("the line's store"), line, lines);
    QVERIFY2(why.isEmpty(), qPrintable(why));
    for (const QString &name : {QStringLiteral("a"), QStringLiteral("b")}) {
        const QSqlDatabase station = stationDatabase(stationStore(name));
        why = compare(stationStore(name), station, linesOf({stationLog(name)}));
        QVERIFY2(why.isEmpty(), qPrintable(why));
        QCOMPARE(countOf(station, QStringLiteral("SELECT COUNT(*) FROM outbox")), 0);
    }
}

void TestLineStore::recordsTool_data()
{
    // vantyx-records asked of the line's store after the two stations' shift, and of a
    // station's own: its exit status and a text its output holds ("%line" the line's store,
    // "%today", "%a" station a's store).
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("said");
    QTest::newRow("a tag's failures")
        << "find --store=%line --tag WO-b --result failed" << 0 << "failed";
    QTest::newRow("a day's summary")
        << "summary --store=%line --day %today" << 0 << "7 ok, 1 failed, 0 cancelled: yield 87.5%";
    QTest::newRow("a summary as JSON") << "summary --store=%line --json" << 0 << "\"ok\": 7";
    QTest::newRow("a serial nobody has") << "find --store=%line --serial FT-none" << 1 << "";
    QTest::newRow("a station's own store") << "summary --database %a" << 0 << "4 ok, 0 failed";
    QTest::newRow("exported as CSV") << "export --store=%line --csv --tag WO-a" << 0
                                     << "id,ended_ms,day,started,ended,host,program";
    QTest::newRow("exported, the lines themselves")
        << "export --store=%line --json --tag WO-a" << 0 << "%one of a";
    QTest::newRow("a server nobody runs") << "find --store postgresql://qa@127.0.0.1:1/vantyx" << 3
                                          << "vantyx-records: postgresql://qa@127.0.0.1:1/vantyx: ";
    QTest::newRow("no command") << "--json" << 2 << "(try --help)";
    QTest::newRow("export without a form")
        << "export --store=%line" << 2 << "vantyx-records: export takes --csv or --json";
    QTest::newRow("a bad date") << "find --store=%line --from yesterday" << 2
                                << "--from takes a date";
}

void TestLineStore::recordsTool()
{
    QFETCH(QString, command);
    QFETCH(int, status);
    QFETCH(QString, said);
    const QString today = QDate::currentDate().toString(Qt::ISODate);
    QStringList arguments = command.split(QLatin1Char(' '));
    for (QString &argument : arguments)
        argument.replace(QStringLiteral("%line"), server.url())
            .replace(QStringLiteral("%today"), today)
            .replace(QStringLiteral("%a"), stationStore(QStringLiteral("a")));
    if (said == QStringLiteral("%one of a")) {
        const QMap<QString, QByteArray> lines = linesOf({stationLog(QStringLiteral("a"))});
        QVERIFY(!lines.isEmpty());
        said = QString::fromUtf8(lines.first());
    }
    QString output;
    QCOMPARE(records(arguments, &output), status);
    QVERIFY2(output.contains(said), qPrintable(output));
}

void TestLineStore::serverAway()
{
    // A station whose line's store is away keeps flashing and keeps its records; it says so,
    // and the metrics say how many wait; vantyx-records forward takes them there later.
    SimulatorProcess boards;
    QVERIFY(
        boards.start({QStringLiteral("--pty"), QStringLiteral("--count"), QStringLiteral("2")}));
    const QStringList ports = boards.ports(2);
    QCOMPARE(ports.size(), 2);
    QProcess tool;
    const QString metrics = dir.filePath(QStringLiteral("away.prom"));
    startStation(&tool, QStringLiteral("away"), ports,
                 {QStringLiteral("--store"),
                  QStringLiteral("postgresql://vantyx@127.0.0.1:1/vantyx"),
                  QStringLiteral("--metrics-file"), metrics});
    QVERIFY(tool.waitForFinished(60000));
    QCOMPARE(tool.exitCode(), 0);
    const QString said = QString::fromLocal8Bit(tool.readAllStandardError());
    QVERIFY2(said.contains(QStringLiteral("vantyx-flash: the line's store is away "
                                          "(postgresql://vantyx@127.0.0.1:1/vantyx: ")) &&
                 said.contains(QStringLiteral("vantyx-flash: 2 records wait for the line's store: "
                                              "sent at the next start, or by vantyx-records "
                                              "forward\n")),
             qPrintable(said));
    QFile figures(metrics);
    QVERIFY(figures.open(QIODevice::ReadOnly));
    QVERIFY2(figures.readAll().contains("\nvantyx_records_unsent 2\n"), "the metrics");
    QString output;
    QCOMPARE(records({QStringLiteral("forward"), QStringLiteral("--store"), server.url(),
                      QStringLiteral("--database"), stationStore(QStringLiteral("away"))},
                     &output),
             0);
    QCOMPARE(output, QStringLiteral("2 records sent to %1\n").arg(server.url()));
    const QMap<QString, QByteArray> lines = linesOf({stationLog(QStringLiteral("away"))});
    QSqlDatabase line = QSqlDatabase::database(lineConnection(server.url()));
    for (auto record = lines.cbegin(); record != lines.cend(); ++record) {
        QSqlQuery query(line);
        query.prepare(QStringLiteral("SELECT record FROM boards WHERE id = ?"));
        query.addBindValue(record.key());
        QVERIFY(query.exec() && query.next());
        QCOMPARE(query.value(0).toByteArray(), record.value());
    }
    QCOMPARE(countOf(stationDatabase(stationStore(QStringLiteral("away"))),
                     QStringLiteral("SELECT COUNT(*) FROM outbox")),
             0);
}

void TestLineStore::storeSoak_data()
{
    QTest::addColumn<int>("firstRun");
    QTest::newRow("first ten runs") << 1;
    QTest::newRow("second ten runs") << 11;
    QTest::newRow("third ten runs") << 21;
}

void TestLineStore::storeSoak()
{
    // A station of six boards killed at random moments over ten runs, its server stopped for
    // the middle runs and started again in the middle of one; then a run left to end. Every
    // record of its JSON Lines is in its SQLite and in the line's store, once.
    QFETCH(int, firstRun);
    const QString name = QStringLiteral("soak-%1").arg(firstRun);
    SimulatorProcess boards;
    QVERIFY(
        boards.start({QStringLiteral("--pty"), QStringLiteral("--count"), QStringLiteral("6")}));
    const QStringList ports = boards.ports(6);
    QCOMPARE(ports.size(), 6);
    const quint32 seed = qEnvironmentVariableIsSet("STORE_SEED")
                             ? quint32(qEnvironmentVariableIntValue("STORE_SEED"))
                             : QRandomGenerator::global()->generate();
    qInfo("STORE_SEED=%u", seed);
    QRandomGenerator random(seed + quint32(firstRun));
    int killed = 0;
    for (int run = firstRun; run < firstRun + 10; ++run) {
        const int step = run - firstRun;
        if (step == 3)
            QCOMPARE(server.stop(), QString());
        QProcess tool;
        startStation(&tool, name, ports, {QStringLiteral("--store"), server.url()});
        QVERIFY(tool.waitForStarted());
        // Mostly about when the boards end (a little over 5 s) and their records are written.
        const int killAtMs = int(random.bounded(500, 7500));
        if (step == 7) { // the server back while the station runs
            QTest::qWait(int(random.bounded(300, 4000)));
            QCOMPARE(server.start(), QString());
        }
        if (!tool.waitForFinished(killAtMs)) {
            ::kill(pid_t(tool.processId()), SIGKILL);
            QVERIFY(tool.waitForFinished(5000));
            ++killed;
        }
    }
    QProcess last;
    startStation(&last, name, ports, {QStringLiteral("--store"), server.url()});
    QVERIFY(last.waitForFinished(60000));
    QCOMPARE(last.exitCode(), 0);
    qInfo("%d of 10 runs killed", killed);
    const QMap<QString, QByteArray> lines = linesOf({stationLog(name)});
    QVERIFY(lines.size() >= 6);
    const QSqlDatabase station = stationDatabase(stationStore(name));
    QString why = compare(stationStore(name), station, lines);
    QVERIFY2(why.isEmpty(), qPrintable(why));
    QCOMPARE(countOf(station, QStringLiteral("SELECT COUNT(*) FROM outbox")), 0);
    // The line's store holds this station's records, and only them, once each.
    QSqlDatabase line = QSqlDatabase::database(lineConnection(server.url()));
    QSqlQuery query(line);
    QVERIFY(
        query.exec(QStringLiteral("SELECT id, record FROM boards WHERE tag = 'WO-%1'").arg(name)));
    QMap<QString, QByteArray> sent;
    while (query.next()) {
        QVERIFY2(!sent.contains(query.value(0).toString()), "a record twice");
        sent.insert(query.value(0).toString(), query.value(1).toByteArray());
    }
    QCOMPARE(sent.size(), lines.size());
    QCOMPARE(sent, lines);
}

QTEST_GUILESS_MAIN(TestLineStore)
#include "tst_linestore.moc"
