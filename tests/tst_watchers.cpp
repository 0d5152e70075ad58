#include "flash/imagewatcher.h"
#include "flash/portwatcher.h"
#include "serial/portname.h"
#include "testrig.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <thread>

// What a shift decides between boards, without a board: which ports arrived (files stand in
// for device nodes) and whether the image on disk is still the one in memory.
class TestWatchers : public QObject
{
    Q_OBJECT

private slots:
    void ports_data();
    void ports();
    void image_data();
    void image();
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
    QTest::newRow("untouched") << QByteArray() << true << int(ImageWatcher::Check::Current);
    QTest::newRow("touched, same bytes")
        << QByteArray(700, 'x') << false << int(ImageWatcher::Check::Current);
    QTest::newRow("a new build") << QByteArray(900, 'y') << false
                                 << int(ImageWatcher::Check::Changed);
    QTest::newRow("removed") << QByteArray() << false << int(ImageWatcher::Check::Unusable);
}

void TestWatchers::image()
{
    QFETCH(QByteArray, rewritten);
    QFETCH(bool, touchedOnly);
    QFETCH(int, check);
    QTemporaryDir dir;
    const QString path = writeFile(dir.path(), QStringLiteral("fw.bin"), QByteArray(700, 'x'));
    const std::filesystem::path file(path.toStdString());
    auto first = std::make_shared<const PaddedImage>(*readPaddedImage(file));
    ImageWatcher watcher(path, file, first);
    const QString firstSha = watcher.record().sha256;

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
    QString why;
    QCOMPARE(int(watcher.check(&why)), check);
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

QTEST_MAIN(TestWatchers)
#include "tst_watchers.moc"
