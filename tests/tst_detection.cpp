#include "window/detect/bootloader_detector.h"
#include "windowrig.h"

#include <QComboBox>
#include <QDir>
#include <QPushButton>
#include <QSerialPort>
#include <QTest>

namespace {

QPushButton *startStop(QDialog *dialog)
{
    return dialog->findChild<QPushButton *>(QStringLiteral("pushButton_BootLoad"));
}

// Records, at the moment the dialog hides, whether it still held its port.
class HideWatcher : public QObject
{
public:
    bool hidden = false;
    bool portHeldAtHide = true;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Hide && !hidden) {
            hidden = true;
            portHeldAtHide =
                static_cast<Bootloader_detector *>(watched)->serialConnection().port() != nullptr;
        }
        return false;
    }
};

} // namespace

class TestDetection : public QObject
{
    Q_OBJECT

private slots:
    void wakeUpEvery55ms();
    void okClosesPortAndEnablesFlash();
    void okBeforeStartIsHonoured();
    void otherRepliesDoNotCount_data();
    void otherRepliesDoNotCount();
    void stopOrCloseLeaveFlashAsItWas_data();
    void stopOrCloseLeaveFlashAsItWas();
    void portProblems_data();
    void portProblems();
    void parentOnlyConstructor();
};

void TestDetection::wakeUpEvery55ms()
{
    devicesim::Script script;
    script.answerWakeUpNumber = 8;
    Rig rig(script);
    qint64 pressedAt = 0;
    rig.answerer.onDetector = [&](QDialog *dialog) {
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Detection"));
        QCOMPARE(startStop(dialog)->text(), QStringLiteral("Start"));
        pressedAt = devicesim::nowNs();
        startStop(dialog)->click();
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Waiting"));
        QCOMPARE(startStop(dialog)->text(), QStringLiteral("Stop"));
    };
    QVERIFY(rig.detect());

    const devicesim::Record record = rig.device.record();
    QVERIFY(record.wakeUps.size() >= 8);
    QCOMPARE(record.received, wakeUpCommand.repeated(record.wakeUps.size()));
    // The k-th command is due k intervals after Start, never sooner: a precise repeating timer
    // keeps to its schedule, and a late tick on a loaded machine only makes it arrive later, so
    // the lower bound is tight and the upper one loose.
    for (int k = 1; k <= 8; ++k) {
        const double at = msBetween(pressedAt, record.wakeUps.at(k - 1));
        QVERIFY2(at >= k * 55 - 1 && at < k * 55 + 300,
                 qPrintable(QStringLiteral("command %1 at %2 ms").arg(k).arg(at)));
    }
    QVERIFY(!rig.answerer.lastDetectorHadIcon);
}

void TestDetection::okClosesPortAndEnablesFlash()
{
    Rig rig;
    HideWatcher watcher;
    rig.answerer.onDetector = [&](QDialog *dialog) {
        dialog->installEventFilter(&watcher);
        startStop(dialog)->click();
    };
    QVERIFY(!rig.button("pushButton_Flash")->isEnabled());
    QVERIFY(rig.detect());
    QVERIFY(watcher.hidden);
    QVERIFY(!watcher.portHeldAtHide);
    QCOMPARE(rig.window.serialConnection().port(), nullptr);
    QVERIFY(rig.answerer.boxes.isEmpty());
    // Nothing follows the reply: the dialog is gone, and the main window opens its port later.
    const int wakeUps = rig.device.record().wakeUps.size();
    QTest::qWait(150);
    QCOMPARE(rig.device.record().wakeUps.size(), wakeUps);

    // Rescan drops the pseudo-terminal (the system does not list it): Flash must not open
    // whatever port is chosen instead.
    QVERIFY(rig.button("pushButton_Flash")->isEnabled());
    QTest::mouseClick(rig.button("pushButton_Rescan"), Qt::LeftButton);
    QVERIFY(!rig.button("pushButton_Flash")->isEnabled());

    // Given as a port the system does not list, it stays first and chosen through Rescan.
    rig.window.setUnlistedPorts({rig.device.portName()});
    QVERIFY(rig.detect());
    QTest::mouseClick(rig.button("pushButton_Rescan"), Qt::LeftButton);
    auto *ports = rig.window.findChild<QComboBox *>(QStringLiteral("comboBox_select_device"));
    QCOMPARE(ports->currentText(), rig.device.portName());
    QCOMPARE(ports->itemText(0), rig.device.portName());
    QVERIFY(rig.button("pushButton_Flash")->isEnabled());
    // Choosing another port takes Flash away until the next detection.
    if (ports->count() > 1) {
        ports->setCurrentIndex(1);
        ports->setCurrentIndex(0);
        QVERIFY(!rig.button("pushButton_Flash")->isEnabled());
    }
}

void TestDetection::okBeforeStartIsHonoured()
{
    Rig rig;
    rig.answerer.onDetector = [&](QDialog *) { rig.device.inject("OK"); };
    QVERIFY(rig.detect());
    QVERIFY(rig.device.record().wakeUps.isEmpty());
}

void TestDetection::otherRepliesDoNotCount_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("OK CR LF") << QByteArray("OK\r\n");
    QTest::newRow("lower case") << QByteArray("ok");
    QTest::newRow("leading blank") << QByteArray(" OK");
    QTest::newRow("half") << QByteArray("O");
}

void TestDetection::otherRepliesDoNotCount()
{
    QFETCH(QByteArray, reply);
    devicesim::Script script;
    script.wakeUpReply = reply;
    script.wakeUpQuietMs = 0;
    Rig rig(script);
    rig.answerer.onDetector = [&](QDialog *dialog) {
        startStop(dialog)->click();
        QTimer::singleShot(500, startStop(dialog), &QPushButton::click);
    };
    QVERIFY(!rig.detect());
    QVERIFY(rig.device.record().wakeUpAnswers.size() >= 5);
}

void TestDetection::stopOrCloseLeaveFlashAsItWas_data()
{
    QTest::addColumn<bool>("detectFirst");
    QTest::addColumn<bool>("byStop");
    QTest::newRow("Stop, Flash off") << false << true;
    QTest::newRow("Stop, Flash on") << true << true;
    QTest::newRow("close, Flash off") << false << false;
    QTest::newRow("close, Flash on") << true << false;
}

void TestDetection::stopOrCloseLeaveFlashAsItWas()
{
    QFETCH(bool, detectFirst);
    QFETCH(bool, byStop);
    Rig rig;
    if (detectFirst)
        QVERIFY(rig.detect());
    devicesim::Script silent;
    silent.wakeUpReply.clear();
    rig.device.setScript(silent);

    int wakeUpsAtEnd = -1;
    qint64 stoppedAt = 0;
    rig.answerer.onDetector = [&](QDialog *dialog) {
        startStop(dialog)->click();
        QTimer::singleShot(300, dialog, [&, dialog] {
            wakeUpsAtEnd = rig.device.record().wakeUps.size();
            stoppedAt = devicesim::nowNs();
            if (byStop)
                startStop(dialog)->click();
            else
                dialog->reject();
        });
    };
    QCOMPARE(rig.detect(), detectFirst);
    if (byStop) // the 200 ms pause after Stop blocks everything, wake-ups included
        QVERIFY(msBetween(stoppedAt, devicesim::nowNs()) >= 199);
    QTest::qWait(200);
    QVERIFY(wakeUpsAtEnd >= 3);
    QVERIFY(rig.device.record().wakeUps.size() <= wakeUpsAtEnd + 1);
    for (const char *name : {"pushButton_Browse", "pushButton_Detect", "pushButton_Rescan"})
        QVERIFY(rig.button(name)->isEnabled());
}

void TestDetection::portProblems_data()
{
    QTest::addColumn<QString>("problem");
    // The box's text; %1 is the port, and a line "*" the system's own reason, which differs
    // between systems and Qt versions and only has to be there.
    QTest::addColumn<QString>("expected");
    QTest::newRow("vanished before Detect")
        << QStringLiteral("vanished") << QStringLiteral("Error opening the port %1.\n*");
    QTest::newRow("held by another program")
        << QStringLiteral("held")
        << QStringLiteral("Error opening the port %1.\n*\nAnother program may be using the port.");
    QTest::newRow("unplugged while waiting")
        << QStringLiteral("unplugged")
        << QStringLiteral("Lost the port %1.\nThe device was unplugged, or the line hung up.");
    QTest::newRow("taken between Detect and Flash")
        << QStringLiteral("taken")
        << QStringLiteral("Error opening the port %1.\n*\nAnother program may be using the port.");
}

void TestDetection::portProblems()
{
    QFETCH(QString, problem);
    QFETCH(QString, expected);
    devicesim::Script script;
    if (problem == QStringLiteral("unplugged")) {
        script.wakeUpReply.clear();
        script.unplugAtWakeUp = 3;
    }
    Rig rig(script);
    QString port = rig.device.portName();
    QString error;
    if (problem == QStringLiteral("vanished"))
        showOnPort(rig.window, port = QStringLiteral("/dev/vantyx-gone"));
    else if (problem == QStringLiteral("held"))
        QVERIFY2(rig.device.holdHostEnd(&error), qPrintable(error));
    rig.answerer.holdMs = 300;

    if (problem == QStringLiteral("taken")) {
        QVERIFY(rig.detect());
        QVERIFY2(rig.device.holdHostEnd(&error), qPrintable(error));
        const qint64 pressed = devicesim::nowNs();
        rig.flash(writeFile(QDir::tempPath(), QStringLiteral("taken.bin"), patternImage(300)));
        // Said at once, not after the settling time and the start command's watchdog.
        QVERIFY(rig.answerer.boxes.size() == 1);
        QVERIFY(msBetween(pressed, rig.answerer.boxes.first().seenAt) < 1000);
        QCOMPARE(warningBoxFault(rig.answerer.boxes.first(), &rig.window), QString());
        QCOMPARE(afterDetection(rig.device.record().received), QByteArray());
    } else {
        QVERIFY(!rig.detect());
        QCOMPARE(rig.answerer.boxes.size(), 1);
        const ShownBox box = rig.answerer.boxes.first();
        QCOMPARE(box.parentClass, QStringLiteral("Bootloader_detector"));
        QCOMPARE(box.title, QStringLiteral(" "));
        QVERIFY2(box.cpuWhileOpen < 0.2, qPrintable(QString::number(box.cpuWhileOpen)));
        const devicesim::Record record = rig.device.record();
        if (problem == QStringLiteral("unplugged")) {
            const double toBox = msBetween(record.unpluggedAt, box.seenAt);
            QVERIFY2(toBox >= 0 && toBox < 100, qPrintable(QString::number(toBox)));
            QCOMPARE(record.wakeUps.size(), 3);
        } else {
            QVERIFY(record.received.isEmpty()); // no wake-up before the failure is said
        }
    }
    const QStringList shown = rig.answerer.boxes.first().text.split(QLatin1Char('\n'));
    const QStringList wanted = expected.arg(port).split(QLatin1Char('\n'));
    QCOMPARE(shown.size(), wanted.size());
    for (qsizetype i = 0; i < wanted.size(); ++i)
        QVERIFY2(wanted.at(i) == QStringLiteral("*") ? !shown.at(i).isEmpty()
                                                     : shown.at(i) == wanted.at(i),
                 qPrintable(shown.join(QLatin1Char('|'))));
    QTRY_VERIFY2(rig.isIdle(), qPrintable(rig.idleReport()));

    // Detect can be pressed again, and works on a port that is there.
    rig.answerer.holdMs = 0;
    const std::unique_ptr<devicesim::Device> replugged = plugIn(rig);
    QVERIFY(rig.detect());
}

void TestDetection::parentOnlyConstructor()
{
    Bootloader_detector detector;
    QVERIFY(!detector.windowIcon().isNull());
    QCOMPARE(detector.windowTitle(), QStringLiteral("Detection"));
    QCOMPARE(detector.serialConnection().port(), nullptr);
    QCOMPARE(detector.serialConnection().openCount(), 0);
    QVERIFY(!detector.isDetected());
    QCOMPARE(detector.size(), QSize(197, 152));
}

QTEST_MAIN(TestDetection)
#include "tst_detection.moc"
