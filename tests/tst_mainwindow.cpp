#include "window/app/flashloader.h"
#include "windowrig.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSerialPortInfo>
#include <QTest>
#include <QTimer>

namespace {

QStringList portNames()
{
    QStringList names;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        names << info.portName();
    return names;
}

QStringList items(const QComboBox *box)
{
    QStringList names;
    for (int i = 0; i < box->count(); ++i)
        names << box->itemText(i);
    return names;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { quietPlatformNotes(); }
    void buildsWithoutWarnings();
    void fixedSizeTitleAndIcon();
    void controlsAtStartUp();
    void portListFollowsEnumeration();
    void browseChoosesOrKeepsTheFile();
    void commandLine_data();
    void commandLine();
};

void TestMainWindow::buildsWithoutWarnings()
{
    // A misspelt on_<object>_<signal> slot only prints a warning while the form is set up.
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
    FlashLoader window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
}

void TestMainWindow::fixedSizeTitleAndIcon()
{
    FlashLoader window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.size(), QSize(558, 280));
    QCOMPARE(window.minimumSize(), QSize(558, 280));
    QCOMPARE(window.maximumSize(), QSize(558, 280));
    window.resize(800, 400);
    QCOMPARE(window.size(), QSize(558, 280));
    QCOMPARE(window.windowTitle(), QStringLiteral("Brivox Vantyx Firmware updater"));
    QCOMPARE(window.objectName(), QStringLiteral("FlashLoader"));
    QCOMPARE(QString::fromLatin1(window.metaObject()->className()), QStringLiteral("FlashLoader"));
    QVERIFY(!window.windowIcon().isNull());
    QCOMPARE(window.windowIcon().availableSizes().value(0), QSize(800, 800));
    QCOMPARE(window.focusPolicy(), Qt::StrongFocus);
}

void TestMainWindow::controlsAtStartUp()
{
    FlashLoader window;
    auto *flash = window.findChild<QPushButton *>(QStringLiteral("pushButton_Flash"));
    QVERIFY(!flash->isEnabled());
    for (const char *name : {"pushButton_Browse", "pushButton_Detect", "pushButton_Rescan"})
        QVERIFY2(window.findChild<QPushButton *>(QString::fromLatin1(name))->isEnabled(), name);
    QVERIFY(window.findChild<QComboBox *>(QStringLiteral("comboBox_select_device"))->isEnabled());
    QVERIFY(window.findChild<QLineEdit *>(QStringLiteral("lineEdit_Selected_file"))->isEnabled());
    QCOMPARE(window.serialConnection().port(), nullptr);
    QCOMPARE(window.serialConnection().openCount(), 0);
    QVERIFY(!window.isDownloading());
}

void TestMainWindow::portListFollowsEnumeration()
{
    FlashLoader window;
    auto *box = window.findChild<QComboBox *>(QStringLiteral("comboBox_select_device"));
    QCOMPARE(items(box), portNames());

    // Rescan replaces whatever the list held, and selects the first port.
    box->addItem(QStringLiteral("/dev/not-a-port"));
    box->setCurrentIndex(box->count() - 1);
    QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("pushButton_Rescan")),
                      Qt::LeftButton);
    QCOMPARE(items(box), portNames());
    QCOMPARE(box->currentIndex(), box->count() ? 0 : -1);
    for (int i = 0; i < box->count(); ++i) {
        QVERIFY(box->itemIcon(i).isNull());
        QVERIFY(!box->itemData(i).isValid());
    }
}

void TestMainWindow::browseChoosesOrKeepsTheFile()
{
    // Qt's own dialog: a platform one cannot be answered from here.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    FlashLoader window;
    window.show();
    auto *field = window.findChild<QLineEdit *>(QStringLiteral("lineEdit_Selected_file"));
    auto *browse = window.findChild<QPushButton *>(QStringLiteral("pushButton_Browse"));
    field->setText(QStringLiteral("/images/previous.bin"));
    const QString chosen = QDir::temp().filePath(QStringLiteral("not-yet-there.bin"));

    QString title, filter;
    bool accept = false;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        title = dialog->windowTitle();
        filter = dialog->nameFilters().join(QLatin1Char(';'));
        if (accept) {
            // Typed into the dialog's name field, as the operator would, then Open.
            dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(chosen);
            static_cast<QDialog *>(dialog)->accept();
        } else {
            dialog->reject();
        }
    });
    answer.start(20);

    QTest::mouseClick(browse, Qt::LeftButton);
    QCOMPARE(title, QStringLiteral("Select file"));
    QCOMPARE(filter, QStringLiteral("Text files (*.bin)"));
    QCOMPARE(field->text(), QStringLiteral("/images/previous.bin")); // cancelled: kept

    accept = true; // any name, even one that does not exist yet
    QTest::mouseClick(browse, Qt::LeftButton);
    QCOMPARE(field->text(), chosen);
}

void TestMainWindow::commandLine_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("environment"); // NAME=value to set, -NAME to take away
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("output"); // what standard output starts with
    QTest::addColumn<QString>("error");  // what standard error says, in one line
    const QString updater = updaterPath();
    const QString sim = simulatorPath();
    const QString flash = flashToolPath();
    const QString version = QStringLiteral(FLASHLOADER_VERSION);
    const QStringList none;
    QTest::newRow("updater --version")
        << updater << QStringList{QStringLiteral("--version")} << none << 0
        << QStringLiteral("FlashLoader ") + version << QString();
    QTest::newRow("updater --help") << updater << QStringList{QStringLiteral("--help")} << none << 0
                                    << QStringLiteral("Usage: ") << QString();
    // Qt's own options are taken before the updater's: this one only picks the platform.
    QTest::newRow("updater, Qt's option, --help")
        << updater
        << QStringList{QStringLiteral("-platform"), QStringLiteral("offscreen"),
                       QStringLiteral("--help")}
        << none << 0 << QStringLiteral("Usage: ") << QString();
#ifndef Q_OS_WIN // where the window system is always there
    // Over ssh, or for a manual page made at build time: no window system is asked for.
    const QStringList noDisplay{QStringLiteral("QT_QPA_PLATFORM=xcb"), QStringLiteral("-DISPLAY"),
                                QStringLiteral("-WAYLAND_DISPLAY")};
    QTest::newRow("updater --help without a display")
        << updater << QStringList{QStringLiteral("--help")} << noDisplay << 0
        << QStringLiteral("Usage: ") << QString();
    QTest::newRow("updater --version without a display")
        << updater << QStringList{QStringLiteral("--version")} << noDisplay << 0
        << QStringLiteral("FlashLoader ") + version << QString();
    QTest::newRow("updater, unknown option, without a display")
        << updater << QStringList{QStringLiteral("--bogus")} << noDisplay << 2 << QString()
        << QStringLiteral("FlashLoader: Unknown option 'bogus'. (try --help)");
    QTest::newRow("updater, Qt's options, unknown option, without a display")
        << updater
        << QStringList{QStringLiteral("-style"), QStringLiteral("fusion"),
                       QStringLiteral("-reverse"), QStringLiteral("--bogus")}
        << noDisplay << 2 << QString()
        << QStringLiteral("FlashLoader: Unknown option 'bogus'. (try --help)");
#endif
    QTest::newRow("vantyx-flash --version")
        << flash << QStringList{QStringLiteral("--version")} << none << 0
        << QStringLiteral("vantyx-flash ") + version << QString();
    QTest::newRow("vantyx-sim --version")
        << sim << QStringList{QStringLiteral("--version")} << none << 0
        << QStringLiteral("vantyx-sim ") + version << QString();
    QTest::newRow("vantyx-sim --help") << sim << QStringList{QStringLiteral("--help")} << none << 0
                                       << QStringLiteral("Usage: ") << QString();
    // A usage error reads the same in all three: why, how to get help, status 2.
    for (const QString &program : {updater, flash, sim})
        QTest::newRow(
            qPrintable(QFileInfo(program).fileName() + QStringLiteral(", unknown option")))
            << program << QStringList{QStringLiteral("--fast")} << none << 2 << QString()
            << QFileInfo(program).baseName() +
                   QStringLiteral(": Unknown option 'fast'. (try --help)");
}

void TestMainWindow::commandLine()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, environment);
    QFETCH(int, status);
    QFETCH(QString, output);
    QFETCH(QString, error);
    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    for (const QString &change : std::as_const(environment)) {
        if (change.startsWith(QLatin1Char('-')))
            variables.remove(change.mid(1));
        else
            variables.insert(change.section(QLatin1Char('='), 0, 0),
                             change.section(QLatin1Char('='), 1));
    }
    QProcess process;
    process.setProcessEnvironment(variables);
    process.start(program, arguments);
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), status);
    QVERIFY(QString::fromLocal8Bit(process.readAllStandardOutput()).startsWith(output));
    const QString said = QString::fromLocal8Bit(process.readAllStandardError())
                             .replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    // (Its last line: as root without a session, Qt notes where it keeps its runtime files.)
    if (!error.isEmpty())
        QCOMPARE(said.section(QLatin1Char('\n'), -2), error + QLatin1Char('\n'));
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
