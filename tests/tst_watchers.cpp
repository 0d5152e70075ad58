#include "core/files/filenames.h"
#include "core/image/imagefile.h"
#include "core/serial/portname.h"
#include "engine/flash/imagewatcher.h"
#include "engine/flash/portwatcher.h"
#include "engine/flash/slotfile.h"
#include "testrig.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <thread>

// What a shift decides between boards, without a board: which ports arrived (files stand in
// for device nodes), whether the image on disk is still the one in memory, and which slot a
// port is and whether the station takes it.
class TestWatchers : public QObject
{
    Q_OBJECT

private slots:
    void ports_data();
    void ports();
    void image_data();
    void image();
    void wholeOnFirstRead_data();
    void wholeOnFirstRead();
    void slotFile_data();
    void slotFile();
    void station_data();
    void station();
};

void TestWatchers::ports_data()
{
    // Before the second look: what happens to port "a" (present at the first look, and
    // started there), and whether a job still holds it.
    QTest::addColumn<QString>("change"); // stays, gone, swapped, back
    QTest::addColumn<bool>("busy");
    QTest::addColumn<bool>("arrives");
    QTest::newRow("stays") << "stays" << false << false;
    QTest::newRow("swapped for another board") << "swapped" << false << true;
    QTest::newRow("swapped while a job holds it") << "swapped" << true << false;
    QTest::newRow("unplugged and back") << "back" << false << true;
    QTest::newRow("gone") << "gone" << false << false;
}

void TestWatchers::ports()
{
    QFETCH(QString, change);
    QFETCH(bool, busy);
    QFETCH(bool, arrives);
    if (!portsAreDeviceNodes())
        QSKIP("Ports are no device nodes here: a file cannot stand in for one.");
    QTemporaryDir dir;
    const QString a = writeFile(dir.path(), QStringLiteral("a"), "a");
    const QString b = dir.filePath(QStringLiteral("b")); // named, never there
    PortWatcher watcher({a, b});
    const auto none = [](const QString &) { return false; };
    QCOMPARE(watcher.look(none), QStringList{a});
    watcher.started(a);
    QCOMPARE(watcher.look(none), QStringList()); // a board that stays is not taken again

    if (change != QStringLiteral("stays"))
        QVERIFY(QFile::remove(a));
    if (change == QStringLiteral("back"))
        QCOMPARE(watcher.look(none), QStringList());
    if (change == QStringLiteral("swapped") || change == QStringLiteral("back")) {
        // A new node: on a file system whose times are coarse, a new inode tells it apart.
        const QString keep = writeFile(dir.path(), QStringLiteral("keep"), "k");
        writeFile(dir.path(), QStringLiteral("a"), "A");
        QVERIFY(QFile::remove(keep));
    }
    const QStringList seen = watcher.look([&](const QString &) { return busy; });
    QCOMPARE(seen, arrives ? QStringList{a} : QStringList());
}

void TestWatchers::image_data()
{
    QTest::addColumn<QByteArray>("rewritten"); // empty: the file is removed
    QTest::addColumn<bool>("touchedOnly");
    QTest::addColumn<int>("check");
    // The writer keeps the file open with this much of the new build written, long past the
    // steady wait, before it writes the rest and closes it.
    QTest::addColumn<int>("pausedAfter");
    QTest::newRow("untouched") << QByteArray() << true << int(ImageWatcher::Check::Current) << 0;
    QTest::newRow("touched, same bytes")
        << QByteArray(700, 'x') << false << int(ImageWatcher::Check::Current) << 0;
    QTest::newRow("a new build") << QByteArray(900, 'y') << false
                                 << int(ImageWatcher::Check::Changed) << 0;
    QTest::newRow("removed") << QByteArray() << false << int(ImageWatcher::Check::Unusable) << 0;
    QTest::newRow("a writer paused mid-file")
        << QByteArray(900, 'y') << false << int(ImageWatcher::Check::Changed) << 256;
}

void TestWatchers::image()
{
    QFETCH(QByteArray, rewritten);
    QFETCH(bool, touchedOnly);
    QFETCH(int, check);
    QFETCH(int, pausedAfter);
    QTemporaryDir dir;
    const QString path = writeFile(dir.path(), QStringLiteral("fw.bin"), QByteArray(700, 'x'));
    const std::filesystem::path file(path.toStdString());
    auto first = std::make_shared<const PaddedImage>(*readPaddedImage(file));
    constexpr int steadyMs = 200;
    ImageWatcher watcher(path, file, first, ImageReading::anyFormatUpTo(defaultLargestImage),
                         steadyMs);
    const QString firstSha = watcher.record().sha256;
    QString why;

    if (pausedAfter > 0) {
        QFile writer(path);
        QVERIFY(writer.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(writer.write(rewritten.left(pausedAfter)), qint64(pausedAfter));
        QVERIFY(writer.flush());
        // Long steady, but held open to write: never taken half-written.
        for (QDeadlineTimer paused(3 * steadyMs); !paused.hasExpired(); QTest::qWait(50))
            QCOMPARE(int(watcher.check(&why)), int(ImageWatcher::Check::Changing));
        QCOMPARE(writer.write(rewritten.mid(pausedAfter)), qint64(rewritten.size() - pausedAfter));
        writer.close();
        touchedOnly = true; // written: what follows checks what is taken
    }
    if (!touchedOnly) {
        if (rewritten.isEmpty()) {
            QVERIFY(QFile::remove(path));
        } else {
            writeFile(dir.path(), QStringLiteral("fw.bin"), rewritten);
            // A later time than the first write, however coarse the file system's clock.
            std::filesystem::last_write_time(file, std::filesystem::last_write_time(file) +
                                                       std::chrono::seconds(2));
        }
    }
    // Each change waits its steady moment first.
    int checked = int(ImageWatcher::Check::Changing);
    QDeadlineTimer deadline(10 * steadyMs);
    while (checked == int(ImageWatcher::Check::Changing) && !deadline.hasExpired()) {
        checked = int(watcher.check(&why));
        QTest::qWait(20);
    }
    QCOMPARE(checked, check);
    if (check == int(ImageWatcher::Check::Unusable)) {
        QVERIFY(!why.isEmpty());
        QCOMPARE(watcher.image(), first); // boards wait; nothing half-read is given out
        return;
    }
    QCOMPARE(watcher.record().bytes, check == int(ImageWatcher::Check::Changed) ? 900 : 700);
    QCOMPARE(watcher.record().sha256 == firstSha, check == int(ImageWatcher::Check::Current));
    QCOMPARE(QByteArray(watcher.image()->data.get(), watcher.image()->length),
             check == int(ImageWatcher::Check::Changed) ? rewritten : QByteArray(700, 'x'));
}

void TestWatchers::wholeOnFirstRead_data()
{
    // How the file is when a program first reads it; what the program gets, and how long at
    // least it waited for it.
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("waitMs"); // the longest the reader waits
    QTest::addColumn<bool>("read");
    QTest::addColumn<int>("waitedMs");
    QTest::newRow("saved a minute ago") << "settled" << 5000 << true << 0;
    // Waited for until a second old, by the file system's clock (coarse on some).
    QTest::newRow("saved just now") << "fresh" << 5000 << true << 800;
    // As the writer: 2 KiB every 0.3 s, held open, then closed.
    QTest::newRow("held open by its writer, growing") << "growing" << 10000 << true << 1500;
    QTest::newRow("held open longer than the wait") << "growing" << 600 << false << 600;
}

void TestWatchers::wholeOnFirstRead()
{
    QFETCH(QString, how);
    QFETCH(int, waitMs);
    QFETCH(bool, read);
    QFETCH(int, waitedMs);
    QTemporaryDir dir;
    const QByteArray whole = patternImage(8 * 2048, 5);
    const QString path = dir.filePath(QStringLiteral("growing.bin"));
    std::thread writer;
    // From before the file is written: a loaded machine may take a while to write it.
    QElapsedTimer waited;
    waited.start();
    if (how == QStringLiteral("settled")) {
        writeSettledFile(dir.path(), QStringLiteral("growing.bin"), whole);
    } else if (how == QStringLiteral("fresh")) {
        writeFile(dir.path(), QStringLiteral("growing.bin"), whole);
    } else {
        auto file = std::make_shared<QFile>(path);
        QVERIFY(file->open(QIODevice::WriteOnly));
        QCOMPARE(file->write(whole.left(2048)), qint64(2048));
        QVERIFY(file->flush());
        writer = std::thread([file, whole] {
            for (qsizetype at = 2048; at < whole.size(); at += 2048) {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                file->write(whole.mid(at, 2048));
                file->flush();
            }
            file->close();
        });
    }
    QString why;
    const std::optional<PaddedImage> image =
        readWholeImage(files::pathOf(path), &why, ImageReading::rawBytes(), waitMs);
    const qint64 elapsed = waited.elapsed();
    if (writer.joinable())
        writer.join();
    QVERIFY2(bool(image) == read, qPrintable(why));
    QVERIFY2(elapsed >= waitedMs, qPrintable(QString::number(elapsed)));
    if (!read) {
        QVERIFY2(why.startsWith(QStringLiteral("still being written after 0.6 s")),
                 qPrintable(why));
        return;
    }
    QCOMPARE(QByteArray(image->data.get(), image->length), whole); // never a part of it
    if (waitedMs == 0)
        QVERIFY2(elapsed < 500, qPrintable(QString::number(elapsed)));
}

void TestWatchers::slotFile_data()
{
    // The file as a person writes it; what is read, or the error with its line.
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("read"); // "A1=port,A2=port|usb,usb" or "error"
    auto row = [](const char *name, const char *text, const char *read) {
        QTest::newRow(name) << QString::fromUtf8(text) << QString::fromUtf8(read);
    };
    row("slots and adapters, comments, CRLF",
        "# bench 3\r\n[station]\r\nusb = 0403:6001, 10C4:EA60\r\n\r\n; left to right\r\n"
        "[slots]\r\nA1 = /dev/serial/by-path/pci-0:1.1\r\nA 2=\"rfc2217://10.0.4.20:4001\"\r\n",
        "A1=/dev/serial/by-path/pci-0:1.1,A 2=rfc2217://10.0.4.20:4001|0403:6001,10c4:ea60");
    row("the file's order, not sorted", "[slots]\nB = /dev/ttyUSB1\nA = /dev/ttyUSB0\n",
        "B=/dev/ttyUSB1,A=/dev/ttyUSB0|");
    row("no equals sign", "[slots]\nA1 = /dev/ttyUSB0\nA2 /dev/ttyUSB1\n",
        "3: expected NAME = VALUE");
    row("outside a section", "A1 = /dev/ttyUSB0\n", "1: A1 is outside a section");
    row("unknown section", "[slot]\n", "1: unknown section [slot]");
    row("unclosed section", "[slots\n", "1: a section's name ends with ]");
    row("slot without a port", "[slots]\nA1 =\n", "2: slot A1 has no port");
    row("slot named twice", "[slots]\nA1 = /dev/ttyUSB0\nA1 = /dev/ttyUSB1\n",
        "3: slot A1 is named on line 2 too");
    row("one port in two slots", "[slots]\nA1 = /dev/ttyUSB0\nA2 = /dev/ttyUSB0\n",
        "3: slot A2 is the port of line 2 too");
    row("bad adapter", "[station]\nusb = 0403:6001, ftdi\n",
        "2: usb: ftdi is not VID:PID (four hex digits each)");
    row("unknown setting", "[station]\nspeed = 9600\n", "2: unknown setting speed in [station]");
    row("bad network port", "[slots]\nN = rfc2217://host\n", "2: slot N: give HOST:PORT");
    // Found by fuzzing: a quoted port keeps what is inside its quotes, written back as read.
    row("quotes inside a quoted port", "[slots]\nB1 = \" = \"x\"\n", "B1= = \"x|");
    row("a control character in a port", "[slots]\nA = a\x01b\n",
        "2: slot A: a control character in the port's name");
    // A comment after a value is no part of it; inside quotes it is.
    row("a comment after a port", "[slots]\nA1 = /dev/ttyUSB0  # by the door\nA2 = \"x # y\"\n",
        "A1=/dev/ttyUSB0,A2=x # y|");
    // Found by fuzzing: a quote inside an unquoted port, then a comment; written back whole.
    row("a quote inside a port, then a comment", "[slots]\nA1 = /dev/serial001\"ch ;\n",
        "A1=/dev/serial001\"ch|");
    row("a comment after a section", "[slots] ; the bench\nA1 = /dev/ttyUSB0\n",
        "A1=/dev/ttyUSB0|");
    // Names reach terminals and windows: no escape sequence, no NUL.
    row("an escape in a slot's name", "[slots]\nA\x1b[2J1 = /dev/ttyUSB0\n",
        "2: a control character in a name");
    QTest::newRow("a NUL in a slot's name")
        << QStringLiteral("[slots]\nA") + QChar(0) + QStringLiteral("1 = /dev/ttyUSB0\n")
        << QStringLiteral("2: a control character in a name");
}

void TestWatchers::slotFile()
{
    QFETCH(QString, text);
    QFETCH(QString, read);
    QString error;
    const std::optional<Station> station = slotfile::parse(text, &error);
    if (!station) {
        QVERIFY2(error.startsWith(read), qPrintable(error));
        return;
    }
    QStringList named;
    for (const Station::Slot &slot : station->benchSlots)
        named << slot.name + QLatin1Char('=') + slot.port;
    QCOMPARE(named.join(QLatin1Char(',')) + QLatin1Char('|') +
                 station->adapters.join(QLatin1Char(',')),
             read);
    // What the bench's editor writes reads back the same.
    const std::optional<Station> again = slotfile::parse(slotfile::format(*station), &error);
    QVERIFY2(again, qPrintable(error));
    QCOMPARE(slotfile::format(*again), slotfile::format(*station));
}

void TestWatchers::station_data()
{
    // Port "a" is behind the slot's link "by-path"; "b" no slot names.
    QTest::addColumn<QString>("port");    // a, b, or "renamed": the link now points to "c"
    QTest::addColumn<QString>("adapter"); // what the system lists of its adapter
    QTest::addColumn<bool>("withSlots");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("ignored");
    // A port on another machine, in vantyx-flash --watch, where no operator flashes by hand.
    QTest::newRow("a network slot, hands off")
        << "rfc2217://bench:7001"
        << "" << false << ""
        << "a port on another machine, whose boards cannot be seen arriving; flash it without "
           "--watch, or from vantyx-bench";
    QTest::newRow("the slot's port") << "a"
                                     << "0403:6001" << true << "A1"
                                     << "";
    QTest::newRow("renamed tty keeps its slot") << "renamed"
                                                << "0403:6001" << true << "A1"
                                                << "";
    QTest::newRow("unassigned port") << "b"
                                     << "0403:6001" << true << "unassigned"
                                     << "";
    QTest::newRow("no slots, no label") << "b"
                                        << "0403:6001" << false << ""
                                        << "";
    QTest::newRow("adapter not allowed") << "a"
                                         << "1A86:7523" << true << "A1"
                                         << "1a86:7523 is not an allowed adapter";
    QTest::newRow("no USB adapter") << "b"
                                    << "" << false << ""
                                    << "not a USB adapter the station takes";
}

void TestWatchers::station()
{
    QFETCH(QString, port);
    QFETCH(QString, adapter);
    QFETCH(bool, withSlots);
    QFETCH(QString, label);
    QFETCH(QString, ignored);
    if (!portsAreDeviceNodes())
        QSKIP("Ports are no device nodes here: a link cannot stand for a port's place.");
    QTemporaryDir dir;
    for (const char *name : {"a", "b", "c"})
        writeFile(dir.path(), QString::fromLatin1(name), name);
    const QString link = dir.filePath(QStringLiteral("by-path"));
    QVERIFY(QFile::link(dir.filePath(QStringLiteral("a")), link));
    if (port == QStringLiteral("renamed")) { // the kernel gave the socket's adapter a new name
        QVERIFY(QFile::remove(link));
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("c")), link));
        QCOMPARE(stablePortName(dir.filePath(QStringLiteral("c")), dir.path()), link);
        port = QStringLiteral("c");
    }
    Station station;
    station.adapters = {QStringLiteral("0403:6001")};
    if (withSlots)
        station.benchSlots << Station::Slot{QStringLiteral("A1"), link};
    const bool remote = port.contains(QStringLiteral("://"));
    const QString name = remote ? port : dir.filePath(port);
    QCOMPARE(station.slotLabel(name), label);
    const auto leftAlone = [&] {
        const Station::Verdict verdict = station.judge(name, adapter, remote, remote);
        return verdict.role == Station::Role::Ignored ? verdict.why : QString();
    };
    QCOMPARE(leftAlone(), ignored);
    station.adapters.clear(); // none given: any adapter
    QCOMPARE(leftAlone(), remote ? ignored : QString());
}

QTEST_MAIN(TestWatchers)
#include "tst_watchers.moc"
