#include "windowrig.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// Downloads the window ends before the size word: no file chosen, or an image that cannot be
// read whole. No answer to the start command is a row of tst_conformance.
class TestDownloadStart : public QObject
{
    Q_OBJECT

private slots:
    void emptyFileField();
    void unreadableImage_data();
    void unreadableImage();

private:
    QTemporaryDir dir;
};

void TestDownloadStart::emptyFileField()
{
    Rig rig;
    QVERIFY(rig.detect());
    rig.flash(QString());
    QCOMPARE(rig.answerer.boxes.size(), 1);
    QCOMPARE(rig.answerer.boxes.first().text, QStringLiteral("Select file"));
    QCOMPARE(rig.answerer.boxes.first().icon, QMessageBox::Warning);
    QCOMPARE(rig.answerer.boxes.first().title, QStringLiteral("Information"));
    // Nothing else happens: no port, nothing sent, Flash still ready.
    QCOMPARE(rig.window.serialConnection().port(), nullptr);
    QCOMPARE(rig.device.record().startCommands.size(), 0);
    QVERIFY(rig.button("pushButton_Flash")->isEnabled());
}

void TestDownloadStart::unreadableImage_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("missing") << dir.path() + QStringLiteral("/missing.bin");
    QTest::newRow("folder") << dir.path();
    // Nothing to send: "Firmware sent" would be a success with nothing flashed.
    QTest::newRow("empty") << writeFile(dir.path(), QStringLiteral("empty.bin"), QByteArray());

    // Too large for the signed 32-bit size with its 512 spare bytes; sparse, so it costs nothing.
    const QString huge = dir.path() + QStringLiteral("/huge.bin");
    QFile file(huge);
    if (!file.open(QIODevice::WriteOnly) ||
        !file.resize(qint64(std::numeric_limits<qint32>::max()) - 300))
        qFatal("cannot make %s", qPrintable(huge));
    QTest::newRow("too large") << huge;
}

void TestDownloadStart::unreadableImage()
{
    QFETCH(QString, path);
    Rig rig;
    QVERIFY(rig.detect());
    rig.flash(path);
    QVERIFY(rig.waitForBox(QStringLiteral("Error opening the file."), 3000));
    QCOMPARE(warningBoxFault(rig.answerer.boxes.last(), &rig.window), QString());
    QCOMPARE(rig.answerer.boxes.size(), 1);
    QTRY_VERIFY2(rig.isIdle(), qPrintable(rig.idleReport()));

    // Nothing but the start command went out: no size word, no part of any image.
    QTest::qWait(300);
    QCOMPARE(afterDetection(rig.device.record().received), startCommand);
    QCOMPARE(rig.answerer.boxes.size(), 1);
}

QTEST_MAIN(TestDownloadStart)
#include "tst_download_start.moc"
