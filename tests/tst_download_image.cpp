#include "testrig.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// An image that cannot be read whole ends the download before anything of it goes out.
class TestDownloadImage : public QObject
{
    Q_OBJECT

private slots:
    void unreadableImage_data();
    void unreadableImage();

private:
    QTemporaryDir dir;
};

void TestDownloadImage::unreadableImage_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("missing") << dir.path() + QStringLiteral("/missing.bin");
    QTest::newRow("folder") << dir.path();

    // Too large for the signed 32-bit size with its 512 spare bytes; sparse, so it costs nothing.
    const QString huge = dir.path() + QStringLiteral("/huge.bin");
    QFile file(huge);
    if (!file.open(QIODevice::WriteOnly) ||
        !file.resize(qint64(std::numeric_limits<qint32>::max()) - 300))
        qFatal("cannot make %s", qPrintable(huge));
    QTest::newRow("too large") << huge;
}

void TestDownloadImage::unreadableImage()
{
    QFETCH(QString, path);
    Rig rig;
    QVERIFY(rig.detect());
    rig.flash(path);
    QVERIFY(rig.waitForBox(QStringLiteral("Error opening the file."), 3000));
    const ShownBox box = rig.answerer.boxes.last();
    QCOMPARE(box.title, QStringLiteral(" "));
    QCOMPARE(box.parent, &rig.window);
    QCOMPARE(box.icon, QMessageBox::Warning);
    QCOMPARE(rig.answerer.boxes.size(), 1);
    QTRY_VERIFY2(rig.isIdle(), qPrintable(rig.idleReport()));

    // Nothing but the start command went out: no size word, no part of any image.
    QTest::qWait(300);
    QCOMPARE(afterDetection(rig.device.record().received), startCommand);
    QCOMPARE(rig.answerer.boxes.size(), 1);
}

QTEST_MAIN(TestDownloadImage)
#include "tst_download_image.moc"
