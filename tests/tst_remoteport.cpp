#include "core/serial/remoteport.h"
#include "engine/remote/comportsession.h"
#include "engine/remote/networklink.h"

#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

// Ports on other machines: the names, the telnet side of RFC 2217 as bytes in and bytes out,
// and the link against a server on loopback that misbehaves.
class TestRemotePort : public QObject
{
    Q_OBJECT

private slots:
    void address_data();
    void address();
    void session_data();
    void session();
    void escaping_data();
    void escaping();
    void misbehavingServer();
};

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (const int value : values)
        out.append(char(value));
    return out;
}

// Telnet's words as the rows write them.
constexpr int IAC = 255, WILL = 251, WONT = 252, DO = 253, DONT = 254, SB = 250, SE = 240;

QByteArray settings()
{
    auto sub = [](std::initializer_list<int> value) {
        return bytes({IAC, SB, 44}) + bytes(value) + bytes({IAC, SE});
    };
    return sub({1, 0, 1, 0xC2, 0}) + sub({2, 8}) + sub({3, 1}) + sub({4, 1}) + sub({5, 1}) +
           sub({5, 8}) + sub({5, 11});
}

} // namespace

void TestRemotePort::address_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("key"); // or, when not valid, what the refusal says
    QTest::newRow("rfc2217") << QStringLiteral("rfc2217://station1:7001") << true
                             << QStringLiteral("station1:7001");
    QTest::newRow("socket, any case")
        << QStringLiteral("SOCKET://Station1:7001") << true << QStringLiteral("station1:7001");
    QTest::newRow("IPv6") << QStringLiteral("rfc2217://[::1]:7001") << true
                          << QStringLiteral("[::1]:7001");
    QTest::newRow("no port") << QStringLiteral("rfc2217://station1") << false
                             << QStringLiteral("HOST:PORT");
    QTest::newRow("no host") << QStringLiteral("socket://:7001") << false
                             << QStringLiteral("HOST:PORT");
    QTest::newRow("port 0") << QStringLiteral("socket://h:0") << false
                            << QStringLiteral("1 to 65535");
    QTest::newRow("port too big") << QStringLiteral("socket://h:65536") << false
                                  << QStringLiteral("1 to 65535");
    QTest::newRow("signed port") << QStringLiteral("socket://h:+80") << false
                                 << QStringLiteral("1 to 65535");
    QTest::newRow("options after the port")
        << QStringLiteral("rfc2217://h:7001?timeout=1") << false << QStringLiteral("1 to 65535");
    QTest::newRow("brackets without IPv6")
        << QStringLiteral("socket://[h]:1") << false << QStringLiteral("IPv6");
    QTest::newRow("a local port") << QStringLiteral("/dev/ttyUSB0") << false
                                  << QStringLiteral("not rfc2217");
}

void TestRemotePort::address()
{
    QFETCH(QString, name);
    QFETCH(bool, valid);
    QFETCH(QString, key);
    QString why;
    const std::optional<RemotePort> remote = RemotePort::parse(name, &why);
    QCOMPARE(remote.has_value(), valid);
    QCOMPARE(RemotePort::isRemote(name), !name.startsWith(QLatin1Char('/')));
    if (valid)
        QCOMPARE(remote->key(), key);
    else
        QVERIFY2(why.contains(key), qPrintable(why));
}

void TestRemotePort::session_data()
{
    QTest::addColumn<QByteArray>("server"); // what the server sends, after the client's opening
    QTest::addColumn<QByteArray>("data");   // the device's bytes among it
    QTest::addColumn<QByteArray>("reply");  // what the client must answer
    QTest::addColumn<bool>("ready");
    QTest::addColumn<QString>("problem");

    const QByteArray agreed = bytes({IAC, WILL, 0, IAC, DO, 0, IAC, DO, 44});
    QTest::newRow("agreed: the line is set once")
        << agreed << QByteArray() << settings() << true << QString();
    QTest::newRow("answers that match")
        << agreed + bytes({IAC, SB, 44, 101, 0, 1, 0xC2, 0, IAC, SE, IAC, SB, 44, 105, 1, IAC, SE})
        << QByteArray() << settings() << true << QString();
    // ser2net on a pseudo-terminal: modem-control requests unanswered, or answered 0.
    QTest::newRow("modem control answered oddly")
        << agreed + bytes({IAC, SB, 44, 105, 0, IAC, SE, IAC, SB, 44, 105, 9, IAC, SE})
        << QByteArray() << settings() << true << QString();
    QTest::newRow("the server set another rate")
        << agreed + bytes({IAC, SB, 44, 101, 0, 0, 0x25, 0x80, IAC, SE}) << QByteArray()
        << settings() << true << QStringLiteral("9600 baud");
    QTest::newRow("flow control kept")
        << agreed + bytes({IAC, SB, 44, 105, 3, IAC, SE}) << QByteArray() << settings() << true
        << QStringLiteral("flow control 3");
    QTest::newRow("binary refused")
        << bytes({IAC, WONT, 0, IAC, DONT, 0}) << QByteArray() << QByteArray() << false
        << QStringLiteral("refuses binary transmission");
    QTest::newRow("no COM-PORT-OPTION: usable as the server set it")
        << bytes({IAC, WILL, 0, IAC, DO, 0, IAC, DONT, 44}) << QByteArray() << QByteArray() << true
        << QString();
    QTest::newRow("options the client does not do are refused once")
        << bytes({IAC, DO, 24, IAC, DO, 24, IAC, WILL, 1, IAC, WILL, 1}) << QByteArray()
        << bytes({IAC, WONT, 24, IAC, DONT, 1}) << false << QString();
    QTest::newRow("suppress-go-ahead welcomed")
        << bytes({IAC, WILL, 3, IAC, DO, 3}) << QByteArray() << bytes({IAC, DO, 3, IAC, WILL, 3})
        << false << QString();
    // "OK", 0xFF, 0x14, 0x28: the device's bytes, exactly, around the server's commands.
    QTest::newRow("device bytes among commands")
        << agreed +
               bytes({'O', IAC, 241, 'K', IAC, IAC, 0x14, IAC, SB, 44, 107, 0x30, IAC, SE, 0x28})
        << bytes({'O', 'K', 0xFF, 0x14, 0x28}) << settings() << true << QString();
    // A misbehaving server: bounded, said, and nothing after it taken for the device's.
    QTest::newRow("a subnegotiation that never ends")
        << agreed + bytes({IAC, SB, 44, 106}) + QByteArray(600, 'x') + "OK" << QByteArray()
        << settings() << true << QStringLiteral("runs past 512 bytes without an end");
    QByteArray flapping = agreed;
    for (int i = 0; i < 40; ++i)
        flapping += bytes({IAC, WILL, 3, IAC, WONT, 3});
    QTest::newRow("an option turned on and off for ever")
        << flapping + "OK" << QByteArray()
        << settings() + bytes({IAC, DO, 3, IAC, DONT, 3}).repeated(8) << true
        << QStringLiteral("keeps changing telnet option 3");
    QTest::newRow("a 0xFF inside a notice")
        << agreed + bytes({IAC, SB, 44, 106, IAC, IAC, IAC, SE, 'O', 'K'}) << QByteArray("OK")
        << settings() << true << QString();
}

void TestRemotePort::session()
{
    QFETCH(QByteArray, server);
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, reply);
    QFETCH(bool, ready);
    QFETCH(QString, problem);
    const QByteArray opening = bytes({IAC, WILL, 0, IAC, DO, 0, IAC, WILL, 44});
    // Whole, and a byte at a time: a command split between two reads is the same command.
    for (const int chunk : {int(server.size()), 1}) {
        ComPortSession session;
        QCOMPARE(session.opening(), opening);
        QByteArray gotData, gotReply;
        for (qsizetype at = 0; at < server.size(); at += chunk)
            session.take(server.constData() + at, qMin<qsizetype>(chunk, server.size() - at),
                         &gotData, &gotReply);
        QCOMPARE(gotData.toHex(' '), data.toHex(' '));
        QCOMPARE(gotReply.toHex(' '), reply.toHex(' '));
        QCOMPARE(session.ready(), ready);
        QVERIFY2(problem.isEmpty() ? session.problem().isEmpty()
                                   : session.problem().contains(problem),
                 qPrintable(session.problem()));
    }
}

void TestRemotePort::escaping_data()
{
    QTest::addColumn<QByteArray>("device");
    QTest::addColumn<QByteArray>("wire");
    QTest::newRow("no 0xFF") << QByteArray("Quenlark boot!\r") << QByteArray("Quenlark boot!\r");
    QTest::newRow("padding") << QByteArray(3, char(0xFF)) << QByteArray(6, char(0xFF));
    QTest::newRow("mixed") << bytes({0x14, 0xFF, 0xAA, 0xFF})
                           << bytes({0x14, 0xFF, 0xFF, 0xAA, 0xFF, 0xFF});
    QTest::newRow("nothing") << QByteArray() << QByteArray();
}

void TestRemotePort::escaping()
{
    QFETCH(QByteArray, device);
    QFETCH(QByteArray, wire);
    QByteArray out;
    ComPortSession::escapeInto(out, device.constData(), device.size());
    QCOMPARE(out.toHex(' '), wire.toHex(' '));
    // And back: what the server sends is undone to the device's bytes.
    ComPortSession session;
    QByteArray data, reply;
    session.take(out.constData(), out.size(), &data, &reply);
    QCOMPARE(data.toHex(' '), device.toHex(' '));
}

void TestRemotePort::misbehavingServer()
{
    // A read or write on the closed socket is a warning on the user's terminal.
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
    // Options the client does not do, each turned on and off: each turn on asks for an answer,
    // sent while the server is already gone.
    QByteArray flood;
    for (int turn = 0; turn < 8; ++turn)
        for (int option = 100; option < 250; ++option)
            flood += bytes({IAC, WILL, option, IAC, WONT, option});
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    connect(&server, &QTcpServer::newConnection, this, [&] {
        QTcpSocket *peer = server.nextPendingConnection();
        peer->write(flood);
        peer->close(); // once what was written is sent
    });
    const std::optional<RemotePort> remote =
        RemotePort::parse(QStringLiteral("rfc2217://127.0.0.1:%1").arg(server.serverPort()));
    QVERIFY(remote);
    NetworkLink link(*remote, nullptr);
    QString why;
    connect(&link, &JobLink::lost, this, [&](const QString &text) { why = text; });
    link.open();
    QTRY_VERIFY(!why.isEmpty());
    QVERIFY2(why.contains(QStringLiteral("127.0.0.1")), qPrintable(why));
}

QTEST_GUILESS_MAIN(TestRemotePort)
#include "tst_remoteport.moc"
