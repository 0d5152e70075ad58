#include "metrics/metricsendpoint.h"
#include "metrics/shiftmetrics.h"
#include "testrig.h"

#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QUrlQuery>

#include <csignal>

// The shift's metrics as the line's monitoring reads them: the text Prometheus parses, and a
// real Prometheus server scraping vantyx-flash while it flashes a bench.
class TestMetrics : public QObject
{
    Q_OBJECT

private slots:
    void text_data();
    void text();
    void endpointHoldsAgainstClients_data();
    void endpointHoldsAgainstClients();
    void prometheusScrapesAShift();

private:
    static QByteArray get(const QUrl &url);
    static quint16 freePort();
};

namespace {

QStringList texts(std::initializer_list<const char *> list)
{
    QStringList out;
    for (const char *text : list)
        out << QString::fromUtf8(text);
    return out;
}

} // namespace

void TestMetrics::text_data()
{
    // Boards finished, as "result:seconds:latency ms"; lines the text must hold.
    QTest::addColumn<QStringList>("boards");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("none yet") << QStringList()
                              << texts({"vantyx_boards_total{result=\"ok\"} 0",
                                        "vantyx_board_duration_seconds_count 0",
                                        "vantyx_last_success_timestamp_seconds 0"});
    QTest::newRow("buckets are cumulative")
        << texts({"ok:3.2:1.5", "failed:700:0"})
        << texts({"vantyx_board_duration_seconds_bucket{le=\"2\"} 0",
                  "vantyx_board_duration_seconds_bucket{le=\"5\"} 1",
                  "vantyx_board_duration_seconds_bucket{le=\"600\"} 1",
                  "vantyx_board_duration_seconds_bucket{le=\"+Inf\"} 2",
                  "vantyx_board_duration_seconds_sum 703.2",
                  "vantyx_reply_latency_seconds_bucket{le=\"0.002\"} 2",
                  "vantyx_boards_total{result=\"failed\"} 1"});
    // An operator's stop says nothing of how long a board takes.
    QTest::newRow("cancelled counted, not timed")
        << texts({"cancelled:2:0"})
        << texts({"vantyx_boards_total{result=\"cancelled\"} 1",
                  "vantyx_board_duration_seconds_count 0", "vantyx_boards_in_progress 0"});
}

void TestMetrics::text()
{
    QFETCH(QStringList, boards);
    QFETCH(QStringList, lines);
    ShiftMetrics metrics;
    for (const QString &board : boards) {
        const QStringList fields = board.split(QLatin1Char(':'));
        BoardRecord record;
        for (BoardResult result : {BoardResult::Ok, BoardResult::Failed, BoardResult::Cancelled})
            if (resultName(result) == fields.at(0))
                record.result = result;
        record.seconds = fields.at(1).toDouble();
        record.replyLatencyMs = fields.at(2).toDouble();
        record.blocks = 40;
        metrics.boardStarted();
        metrics.boardFinished(record);
    }
    const QList<QByteArray> text = metrics.text().split('\n');
    for (const QString &line : lines)
        QVERIFY2(text.contains(line.toUtf8()), qPrintable(line));
}

void TestMetrics::endpointHoldsAgainstClients_data()
{
    // What a client does to the endpoint, and what it gets; the endpoint answers a GET of
    // another client all along, and no client's bytes make a Qt warning.
    QTest::addColumn<QString>("client");
    QTest::addColumn<QString>("gets"); // "closed", or the reply's first line and its body size
    QTest::newRow("GET") << "GET"
                         << "HTTP/1.1 200 OK|4000";
    QTest::newRow("HEAD") << "HEAD"
                          << "HTTP/1.1 200 OK|0";
    QTest::newRow("POST") << "POST"
                          << "HTTP/1.1 405 Method Not Allowed|0";
    QTest::newRow("DELETE") << "DELETE"
                            << "HTTP/1.1 405 Method Not Allowed|0";
    QTest::newRow("a WebSocket upgrade") << "upgrade"
                                         << "closed";
    // A header line without end, 64 KiB of it: cut at 16 KiB.
    QTest::newRow("an endless header line") << "endless"
                                            << "closed";
    // Requests pipelined by a client that reads none of the answers.
    QTest::newRow("never reads") << "never reads"
                                 << "closed";
    // 64 connections held open: the next is closed at once.
    QTest::newRow("the 65th connection") << "crowd"
                                         << "closed";
    QTest::newRow("silent for 10 s") << "idle"
                                     << "closed";
}

void TestMetrics::endpointHoldsAgainstClients()
{
    QFETCH(QString, client);
    QFETCH(QString, gets);
    quietPlatformNotes();
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
    MetricsEndpoint endpoint([] { return QByteArray(4000, 'm'); });
    QString why;
    QVERIFY2(endpoint.listen(QStringLiteral("127.0.0.1"), 0, &why), qPrintable(why));
    const auto connectOne = [&](QTcpSocket &socket) {
        socket.connectToHost(QHostAddress::LocalHost, endpoint.port());
        return socket.waitForConnected(2000);
    };
    std::vector<std::unique_ptr<QTcpSocket>> crowd;
    if (client == QStringLiteral("crowd")) {
        for (int i = 0; i < 64; ++i) {
            crowd.push_back(std::make_unique<QTcpSocket>());
            QVERIFY2(connectOne(*crowd.back()), qPrintable(crowd.back()->errorString()));
            QCoreApplication::processEvents(); // taken, before the system's backlog fills
        }
        QTest::qWait(200); // each one taken by the server
    }
    QTcpSocket socket;
    if (client == QStringLiteral("never reads")) {
        socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
        socket.setReadBufferSize(1); // nothing more is taken from the system
    }
    QVERIFY(connectOne(socket));
    QElapsedTimer clock;
    clock.start();
    QByteArray sent;
    if (client == QStringLiteral("GET") || client == QStringLiteral("HEAD") ||
        client == QStringLiteral("POST") || client == QStringLiteral("DELETE")) {
        sent = client.toLatin1() + " /metrics HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n";
    } else if (client == QStringLiteral("upgrade")) {
        sent = "GET /metrics HTTP/1.1\r\nHost: x\r\nConnection: Upgrade\r\nUpgrade: websocket\r\n"
               "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
    }
    socket.write(sent);
    if (client == QStringLiteral("endless") || client == QStringLiteral("never reads")) {
        const QByteArray piece = client == QStringLiteral("endless")
                                     ? QByteArray(1024, 'a')
                                     : QByteArray("GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n");
        if (client == QStringLiteral("endless"))
            socket.write("GET /metrics HTTP/1.1\r\nX-Long: ");
        qint64 written = 0;
        while (socket.state() == QAbstractSocket::ConnectedState && written < 4 * 65536 &&
               clock.elapsed() < 5000) {
            written += socket.write(piece);
            socket.waitForBytesWritten(20);
            QTest::qWait(1);
        }
        QVERIFY2(written < 4 * 65536, "the endpoint took it all");
    }
    QByteArray answer;
    const bool closed = QTest::qWaitFor(
        [&] {
            if (socket.isOpen())
                answer += socket.readAll();
            return socket.state() == QAbstractSocket::UnconnectedState ||
                   (gets != QStringLiteral("closed") && answer.contains("\r\n\r\n") &&
                    answer.size() - answer.indexOf("\r\n\r\n") - 4 >=
                        gets.section(QLatin1Char('|'), 1).toInt());
        },
        15000);
    QVERIFY2(closed, answer.constData());
    if (gets == QStringLiteral("closed")) {
        QCOMPARE(socket.state(), QAbstractSocket::UnconnectedState);
        if (client == QStringLiteral("idle")) // after its 10 s, not before
            QVERIFY2(clock.elapsed() >= 9500, qPrintable(QString::number(clock.elapsed())));
        else
            QVERIFY2(clock.elapsed() < 6000, qPrintable(QString::number(clock.elapsed())));
    } else {
        const qsizetype end = answer.indexOf("\r\n\r\n");
        QCOMPARE(QString::fromLatin1(answer.left(answer.indexOf("\r\n"))) + QLatin1Char('|') +
                     QString::number(answer.size() - end - 4),
                 gets);
        if (client == QStringLiteral("POST"))
            QVERIFY(answer.left(end).contains("Allow: GET, HEAD"));
    }
    // Whatever that client did, another one is served.
    crowd.clear();
    QTest::qWait(100);
    const QByteArray served =
        get(QUrl(QStringLiteral("http://127.0.0.1:%1/metrics").arg(endpoint.port())));
    QCOMPARE(served.size(), 4000);
}

QByteArray TestMetrics::get(const QUrl &url)
{
    QNetworkAccessManager network;
    QNetworkReply *reply = network.get(QNetworkRequest(url));
    QEventLoop loop;
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    reply->deleteLater();
    return reply->error() == QNetworkReply::NoError ? reply->readAll() : QByteArray();
}

quint16 TestMetrics::freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : 0;
}

void TestMetrics::prometheusScrapesAShift()
{
    const QString prometheus = QStandardPaths::findExecutable(QStringLiteral("prometheus"));
    const QString promtool = QStandardPaths::findExecutable(QStringLiteral("promtool"));
    if (prometheus.isEmpty() || promtool.isEmpty())
        QSKIP("No prometheus and promtool here (Debian's prometheus; scripts/dev.sh installs it).");
    QTemporaryDir dir;
    const QString image = writeFile(dir.path(), QStringLiteral("image.bin"), patternImage(4000, 5));
    // Two good boards and one whose device answers block 2 with nonsense.
    devicesim::Script bad;
    bad.blockReply = [](int block, int, bool ok) {
        return block == 2 ? QByteArray("Q") : ok ? devicesim::ack : devicesim::resend;
    };
    std::vector<std::unique_ptr<devicesim::Device>> devices;
    QStringList arguments{QStringLiteral("--watch")};
    for (const devicesim::Script &script : {devicesim::Script(), bad, devicesim::Script()}) {
        devices.push_back(std::make_unique<devicesim::Device>(script));
        QString error;
        QVERIFY2(devices.back()->openPty(&error), qPrintable(error));
        arguments << QStringLiteral("--port") << devices.back()->portName();
    }
    const quint16 metricsPort = freePort();
    QProcess tool;
    // Started with a low soft limit of open files, as a service may be: it takes the hard one,
    // so that no crowd of clients starves the boards of descriptors.
    tool.start(QStringLiteral("bash"),
               QStringList{QStringLiteral("-c"),
                           QStringLiteral("ulimit -Sn 256; exec \"$0\" \"$@\""), flashToolPath()} +
                   arguments +
                   QStringList{QStringLiteral("--metrics"),
                               QStringLiteral("127.0.0.1:%1").arg(metricsPort), image});
    QVERIFY(tool.waitForStarted());

    const quint16 serverPort = freePort();
    const QString config = writeFile(
        dir.path(), QStringLiteral("prometheus.yml"),
        QStringLiteral("global:\n  scrape_interval: 1s\nscrape_configs:\n  - job_name: vantyx\n"
                       "    static_configs:\n      - targets: ['127.0.0.1:%1']\n"
                       "        labels: {station: bench-1}\n")
            .arg(metricsPort)
            .toUtf8());
    QProcess server;
    server.setProcessChannelMode(QProcess::MergedChannels);
    server.start(prometheus,
                 {QStringLiteral("--config.file=") + config,
                  QStringLiteral("--storage.tsdb.path=") + dir.filePath(QStringLiteral("data")),
                  QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(serverPort)});
    QVERIFY(server.waitForStarted());
    const auto stopServer = qScopeGuard([&] {
        ::kill(pid_t(server.processId()), SIGTERM);
        server.waitForFinished(10000);
    });

    // The third board's end: what Prometheus is asked about is all there.
    QByteArray scraped;
    QTRY_VERIFY_WITH_TIMEOUT(
        (scraped = get(QUrl(QStringLiteral("http://127.0.0.1:%1/metrics").arg(metricsPort))))
            .contains("vantyx_boards_total{result=\"ok\"} 2"),
        20000);
    QVERIFY2(scraped.contains("vantyx_boards_total{result=\"failed\"} 1"), scraped.constData());
    QFile limits(QStringLiteral("/proc/%1/limits").arg(tool.processId()));
    QVERIFY(limits.open(QIODevice::ReadOnly)); // serving: past its start
    const QByteArray openFiles = limits.readAll();
    const QList<QByteArray> fields = openFiles.mid(openFiles.indexOf("Max open files"))
                                         .split('\n')
                                         .first()
                                         .simplified()
                                         .split(' ');
    QCOMPARE(fields.at(3), fields.at(4)); // soft, hard
    QProcess check;
    check.start(promtool, {QStringLiteral("check"), QStringLiteral("metrics")});
    check.write(scraped);
    check.closeWriteChannel();
    QVERIFY(check.waitForFinished(10000));
    QVERIFY2(check.exitCode() == 0, check.readAll().constData());

    // What the line's monitoring reads: the boards counter by result.
    QUrl query(QStringLiteral("http://127.0.0.1:%1/api/v1/query").arg(serverPort));
    query.setQuery(QUrlQuery{{QStringLiteral("query"), QStringLiteral("vantyx_boards_total")}});
    QMap<QString, QString> byResult;
    const auto ask = [&] {
        byResult.clear();
        const QJsonArray results = QJsonDocument::fromJson(get(query))
                                       .object()[QStringLiteral("data")]
                                       .toObject()[QStringLiteral("result")]
                                       .toArray();
        for (const QJsonValue &result : results)
            byResult.insert(result[QStringLiteral("metric")][QStringLiteral("result")].toString(),
                            result[QStringLiteral("value")].toArray().at(1).toString());
        return byResult.value(QStringLiteral("ok")) == QStringLiteral("2") &&
               byResult.value(QStringLiteral("failed")) == QStringLiteral("1");
    };
    QTRY_VERIFY2_WITH_TIMEOUT(ask(), server.readAll().constData(), 20000);
    qInfo("Prometheus, vantyx_boards_total: ok %s, failed %s",
          qPrintable(byResult.value(QStringLiteral("ok"))),
          qPrintable(byResult.value(QStringLiteral("failed"))));

    ::kill(pid_t(tool.processId()), SIGINT);
    QVERIFY(tool.waitForFinished(5000));
    QCOMPARE(tool.exitCode(), 1); // one board failed
}

QTEST_MAIN(TestMetrics)
#include "tst_metrics.moc"
