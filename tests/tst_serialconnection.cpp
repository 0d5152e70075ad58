#include "pseudoterminal.h"
#include "window/serial/serialconnection.h"
#include "windowrig.h"

#include <QPointer>
#include <QSerialPort>
#include <QTest>

#include <termios.h>
#include <unistd.h>

using devicesim::Pty;

// Stands in for a window: counts deliveries and may close the link from inside one.
class Receiver : public QObject
{
    Q_OBJECT

public:
    SerialConnection *connection = nullptr;
    bool closeOnRead = false;
    QByteArray received;
    int calls = 0;

public slots:
    void serialRecieve()
    {
        ++calls;
        received += connection->port()->readAll();
        if (closeOnRead)
            connection->close();
    }
};

class TestSerialConnection : public QObject
{
    Q_OBJECT

private slots:
    void appliesLineSettings();
    void deliversToReceiver();
    void reopenReleasesFirstPort();
    void closeWithoutPortChangesNothing();
    void failedOpenIsCountedAndReleased();
    void closeInsideOwnReadyRead();
};

void TestSerialConnection::appliesLineSettings()
{
    Pty pty;
    QVERIFY(!pty.path.isEmpty());
    SerialConnection link;
    Receiver receiver;
    link.open(pty.path, &receiver, SLOT(serialRecieve()));
    QVERIFY(link.port()->isOpen());
    QCOMPARE(link.port()->openMode(), QIODevice::ReadWrite);
    QCOMPARE(link.openCount(), 1);

    termios tio{};
    QCOMPARE(tcgetattr(pty.slave, &tio), 0);
    QCOMPARE(cfgetospeed(&tio), speed_t(B115200));
    QCOMPARE(cfgetispeed(&tio), speed_t(B115200));
    QCOMPARE(tio.c_cflag & CSIZE, tcflag_t(CS8));
    QCOMPARE(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));
    QCOMPARE(tio.c_iflag & (IXON | IXOFF), tcflag_t(0));
    QCOMPARE(link.port()->flowControl(), QSerialPort::NoFlowControl);
    link.close();
}

void TestSerialConnection::deliversToReceiver()
{
    Pty pty;
    SerialConnection link;
    Receiver receiver;
    receiver.connection = &link;
    link.open(pty.path, &receiver, SLOT(serialRecieve()));
    QCOMPARE(::write(pty.master, "OK", 2), ssize_t(2));
    QTRY_COMPARE(receiver.received, QByteArray("OK"));

    QCOMPARE(link.port()->write("\x14\xAA", 2), qint64(2));
    QCOMPARE(readFor(pty.master, 2, 2000), QByteArray("\x14\xAA", 2));
    link.close();
}

void TestSerialConnection::reopenReleasesFirstPort()
{
    Pty pty;
    SerialConnection link;
    Receiver receiver;
    link.open(pty.path, &receiver, SLOT(serialRecieve()));
    QPointer<QSerialPort> first = link.port();
    QVERIFY(first->isOpen());
    link.open(pty.path, &receiver, SLOT(serialRecieve()));
    QVERIFY(!first.isNull() && !first->isOpen() && first != link.port());
    QTRY_VERIFY(first.isNull()); // let go, and deleted once back in the event loop
    QVERIFY(link.port()->isOpen());
    QCOMPARE(link.openCount(), 1);
    link.close();
    QCOMPARE(link.openCount(), 0);
    QCOMPARE(link.port(), nullptr);
}

void TestSerialConnection::closeWithoutPortChangesNothing()
{
    SerialConnection link;
    link.close();
    QCOMPARE(link.openCount(), 0);
    QCOMPARE(link.port(), nullptr);
}

void TestSerialConnection::failedOpenIsCountedAndReleased()
{
    Pty pty;
    SerialConnection link;
    Receiver receiver;
    link.open(QStringLiteral("/dev/no-such-port-here"), &receiver, SLOT(serialRecieve()));
    QVERIFY(link.port());
    QVERIFY(!link.port()->isOpen());
    QCOMPARE(link.openCount(), -1);
    QCOMPARE(link.port()->write("x", 1), qint64(-1)); // writes go nowhere, and do no harm

    // A later open replaces the failed port without counting it twice.
    QPointer<QSerialPort> failed = link.port();
    link.open(pty.path, &receiver, SLOT(serialRecieve()));
    QVERIFY(failed.isNull());
    QVERIFY(link.port()->isOpen());
    QCOMPARE(link.openCount(), 0);

    // And closing a failed port still releases it.
    link.close();
    link.open(QString(), &receiver, SLOT(serialRecieve()));
    QCOMPARE(link.openCount(), -2);
    link.close();
    QCOMPARE(link.openCount(), -3);
    QCOMPARE(link.port(), nullptr);
}

void TestSerialConnection::closeInsideOwnReadyRead()
{
    Pty pty;
    SerialConnection link;
    Receiver receiver;
    receiver.connection = &link;
    receiver.closeOnRead = true;
    link.open(pty.path, &receiver, SLOT(serialRecieve()));
    QPointer<QSerialPort> port = link.port();
    QCOMPARE(::write(pty.master, "OK", 2), ssize_t(2));
    QTRY_COMPARE(receiver.calls, 1);
    QCOMPARE(link.port(), nullptr);
    QCOMPARE(link.openCount(), 0);
    QTRY_VERIFY(port.isNull()); // deleted once back in the event loop
    QCOMPARE(::write(pty.master, "OK", 2), ssize_t(2));
    QTest::qWait(50);
    QCOMPARE(receiver.calls, 1);
}

QTEST_GUILESS_MAIN(TestSerialConnection)
#include "tst_serialconnection.moc"
