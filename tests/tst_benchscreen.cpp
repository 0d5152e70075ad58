#include "benchwindow/benchwindow.h"
#include "benchwindow/boardwall.h"
#include "testrig.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

// The bench window on the screen it opens on, as CTest gives it: a line's 1024x600 panel PC
// and a 1920x1080 screen. Every control within reach, and the wall readable from two metres.
class TestBenchScreen : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void fitsTheScreen_data();
    void fitsTheScreen();

private:
    QTemporaryDir dir;
    StationOptions eightSlots;
};

void TestBenchScreen::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    int n = 0;
    for (const char *name : {"A1", "A2", "A3", "A4", "B1", "B2", "B3", "B4"})
        eightSlots.station.benchSlots
            << Station::Slot{QString::fromLatin1(name),
                             writeFile(dir.path(), QStringLiteral("tty%1").arg(++n), QByteArray())};
}

void TestBenchScreen::fitsTheScreen_data()
{
    QTest::addColumn<QSize>("saved"); // the window's size saved by an earlier start; none: first
    QTest::newRow("first start") << QSize();
    QTest::newRow("saved on a larger screen") << QSize(3000, 2000);
    QTest::newRow("saved small") << QSize(700, 450);
}

void TestBenchScreen::fitsTheScreen()
{
    QFETCH(QSize, saved);
    QSettings settings;
    settings.clear();
    if (saved.isValid()) { // as the window saves its place, from a window of that size
        QWidget earlier;
        earlier.setGeometry(QRect(QPoint(40, 40), saved));
        settings.setValue(QStringLiteral("geometry"), earlier.saveGeometry());
    }
    settings.sync();
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    const bool large = available.height() >= 1000;
    BenchWindow window(eightSlots);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const auto text = [](const QRect &r) {
        return QStringLiteral("%1x%2+%3+%4").arg(r.width()).arg(r.height()).arg(r.x()).arg(r.y());
    };
    QTRY_VERIFY2(
        available.contains(window.frameGeometry()),
        qPrintable(text(window.frameGeometry()) + QStringLiteral(" on ") + text(available)));
    // Every control the operator needs is on the screen, whatever the window's size.
    QList<QWidget *> controls;
    for (QPushButton *button : window.findChildren<QPushButton *>())
        controls << button;
    controls << window.findChild<QLineEdit *>(QStringLiteral("lineEdit_boardId"));
    for (QWidget *control : std::as_const(controls)) {
        if (!control->isVisibleTo(&window))
            continue; // a banner's button, shown with its banner
        const QRect place(control->mapToGlobal(QPoint(0, 0)), control->size());
        QVERIFY2(available.contains(place),
                 qPrintable(control->objectName() + QStringLiteral(" at ") + text(place)));
    }
    if (saved.isValid() && saved.width() < available.width())
        return; // a small window the operator chose: its own size
    // Eight slots, read from two metres: the state word, and the shift's figures.
    const auto *wall = window.findChild<BoardWall *>();
    QTRY_COMPARE(wall->model()->rowCount(), 8);
    QTRY_VERIFY2(wall->stateWordPixels() >= (large ? 28 : 20),
                 qPrintable(QString::number(wall->stateWordPixels())));
    const auto *counters = window.findChild<QLabel *>(QStringLiteral("label_counters"));
    if (large)
        QVERIFY2(counters->font().pixelSize() >= 32,
                 qPrintable(QString::number(counters->font().pixelSize())));
}

QTEST_MAIN(TestBenchScreen)
#include "tst_benchscreen.moc"
