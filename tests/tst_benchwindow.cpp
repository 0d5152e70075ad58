#include "benchwindow/benchoptions.h"
#include "benchwindow/benchwindow.h"
#include "benchwindow/sloteditor.h"
#include "engine/flash/slotfile.h"
#include "pseudoterminal.h"
#include "store/stationstore.h"
#include "testrig.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QStandardPaths>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <fcntl.h>
#include <unistd.h>

// The bench window on a shift of four simulated boards: two good (one plugged in after the
// shift started), one that falls silent, one pulled out mid-image.
class TestBenchWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void shiftOfFourBoards();
    void tabReachesEveryControl();
    void slotsWhileAShiftRuns();
    void refusedJobStartsNoShift();
    void boardThatNeverAnswers();
    void scanWhereverTheFocusIs();
    void windowProgramsNeedADisplay_data();
    void windowProgramsNeedADisplay();
    void everyActionHasItsOwnKey();
    void slotEditorNamesArrivals();
};

namespace {

// Answers the next message box with `button` once it is up, and keeps its text.
void answerNextBox(QString *text, QMessageBox::StandardButton button)
{
    auto *timer = new QTimer;
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, text, button] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        *text = box->text();
        box->button(button)->click();
        timer->deleteLater();
    });
    timer->start();
}

} // namespace

void TestBenchWindow::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true); // settings and records away from the user's
    QSettings().clear(); // and none from the last run: a view it left chosen, say
}

void TestBenchWindow::shiftOfFourBoards()
{
    // A warning of the window's or its view's fails.
    quietPlatformNotes();
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
    QTemporaryDir dir;
    const QByteArray image = patternImage(12 * 256 + 40, 31);
    // As the compiler wrote it: the boards get the bytes its records hold.
    const QString imagePath =
        writeSettledFile(dir.path(), QStringLiteral("fw.hex"), intelHexOf(image, 0x08000000));
    const QString records = dir.filePath(QStringLiteral("shift.jsonl"));
    devicesim::Script silent;
    silent.silentFromBlock = 3;
    devicesim::Script unplugged;
    unplugged.unplugAfterBlock = 5;
    const auto good = ptyDevice();
    const auto quiet = ptyDevice(silent);
    const auto pulled = ptyDevice(unplugged);
    // Held open, so that its pseudo-terminal's number is not given to another program's once
    // the board is pulled: the shift watches the name, and would flash whatever came there.
    const int heldOpen = ::open(pulled->portName().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    QVERIFY(heldOpen >= 0);
    const auto release = qScopeGuard([heldOpen] { ::close(heldOpen); });
    const auto late = ptyDevice(); // made now: a pseudo-terminal's number is taken again
    // The second good board's slot: a name with nothing behind it until it is plugged in.
    const QString later = dir.filePath(QStringLiteral("slot4"));
    // Two of them in a station's slots, the other two given by name: no slot names them.
    StationOptions given;
    given.ports = {quiet->portName(), pulled->portName()};
    given.log = records;
    given.station.benchSlots = {{QStringLiteral("Bay 1"), good->portName()},
                                {QStringLiteral("Bay 4"), later}};
    given.tag = QStringLiteral("WO-9");
    given.metrics.file = dir.filePath(QStringLiteral("bench.prom"));
    // A line's store nobody runs: the records wait on the station.
    given.lineStore = QStringLiteral("postgresql://vantyx@127.0.0.1:1/vantyx");
    for (const char *side : {"", "-wal", "-shm"})
        QFile::remove(StationStore::defaultPath() + QLatin1String(side));
    BenchWindow window(given);
    QString why;
    QVERIFY2(window.startMetrics(&why), qPrintable(why));
    window.show();
    QVERIFY(window.chooseImage(imagePath));
    BenchModel &model = window.model();
    // The empty slot is a row too, said unplugged, so that the operator sees where it is.
    QTRY_COMPARE(model.rowCount(), 4);
    QCOMPARE(model.state(model.rowOf(later)), BenchModel::State::Absent);
    QCOMPARE(model.data(model.index(model.rowOf(later), BenchModel::Phase)).toString(),
             QStringLiteral("unplugged"));
    model.setBoardId(model.rowOf(good->portName()), QStringLiteral("SN-0001"));
    QVERIFY(window.startShift());

    QTRY_VERIFY_WITH_TIMEOUT(window.counters().failed() == 2, 20000);
    QVERIFY(QFile::link(late->portName(), later));
    QTRY_VERIFY_WITH_TIMEOUT(window.counters().passed() == 2, 20000);
    QCOMPARE(window.counters().failed(), 2);

    // Each device got what the protocol says, to the byte.
    const QByteArray all = expectedDownload(image);
    for (const auto *device : {good.get(), late.get()})
        QCOMPARE(device->record().completedImage, paddedImage(image));
    QCOMPARE(afterDetection(quiet->record().received), all.left(8 + 4 * 257));
    QCOMPARE(afterDetection(pulled->record().received), all.left(8 + 6 * 257));

    // The rows as the operator reads them; Retry where the failed board is still there.
    using S = BenchModel::State;
    QCOMPARE(model.state(model.rowOf(good->portName())), S::Passed);
    QCOMPARE(model.state(model.rowOf(later)), S::Passed);
    QCOMPARE(model.state(model.rowOf(quiet->portName())), S::Failed);
    QVERIFY(model.canRetry(model.rowOf(quiet->portName())));

    // The records on disk, one line a board, match the rows.
    QFile file(records);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QHash<QString, QJsonObject> byPort;
    while (!file.atEnd()) {
        const QJsonObject line = QJsonDocument::fromJson(file.readLine()).object();
        byPort.insert(line.value(QStringLiteral("port")).toString(), line);
    }
    QCOMPARE(byPort.size(), 4);
    const QHash<QString, QString> results{{good->portName(), QStringLiteral("ok")},
                                          {later, QStringLiteral("ok")},
                                          {quiet->portName(), QStringLiteral("failed")},
                                          {pulled->portName(), QStringLiteral("port-error")}};
    for (auto it = results.cbegin(); it != results.cend(); ++it)
        QCOMPARE(byPort.value(it.key()).value(QStringLiteral("result")).toString(), it.value());
    QVERIFY(byPort.value(pulled->portName())
                .value(QStringLiteral("message"))
                .toString()
                .startsWith(QStringLiteral("lost the port")));
    QCOMPARE(byPort.value(good->portName()).value(QStringLiteral("board_id")).toString(),
             QStringLiteral("SN-0001"));
    // Slots name the boards in the rows and the records; the shift's tag is in each.
    QCOMPARE(model.data(model.index(model.rowOf(later), BenchModel::Slot)).toString(),
             QStringLiteral("Bay 4"));
    QCOMPARE(byPort.value(later).value(QStringLiteral("slot")).toString(), QStringLiteral("Bay 4"));
    QCOMPARE(byPort.value(quiet->portName()).value(QStringLiteral("slot")).toString(),
             QStringLiteral("unassigned"));
    for (const QJsonObject &line : std::as_const(byPort))
        QCOMPARE(line.value(QStringLiteral("tag")).toString(), QStringLiteral("WO-9"));
    QFile metrics(given.metrics.file);
    QVERIFY(metrics.open(QIODevice::ReadOnly));
    const QByteArray text = metrics.readAll();
    QVERIFY2(text.contains("vantyx_boards_total{result=\"ok\"} 2\n") &&
                 text.contains("vantyx_boards_total{result=\"port-error\"} 1\n") &&
                 text.contains("\nvantyx_records_unsent 4\n"),
             text.constData());
    QTRY_COMPARE(window.findChild<QLabel *>(QStringLiteral("label_unsent"))->text(),
                 QStringLiteral("records: 4 waiting for the server"));
    QVERIFY(!byPort.value(later).contains(QStringLiteral("board_id")));

    // Enter on the failed tile still there retries that board, and no other; Escape never ends
    // the shift.
    auto *wall = window.findChild<QAbstractItemView *>(QStringLiteral("listView_wall"));
    const int quietRow = model.rowOf(quiet->portName());
    wall->setCurrentIndex(model.index(quietRow, 0));
    wall->setFocus();
    const qsizetype heard = quiet->record().received.size();
    QTest::keyClick(wall, Qt::Key_Return);
    QCOMPARE(model.state(quietRow), S::Flashing);
    QCOMPARE(model.state(model.rowOf(pulled->portName())), S::Failed);
    QCOMPARE(model.state(model.rowOf(good->portName())), S::Passed);
    QTRY_VERIFY(quiet->record().received.size() > heard); // its wake-up again
    QTest::keyClick(wall, Qt::Key_Escape);
    QVERIFY(window.inShift());
    window.findChild<QPushButton *>(QStringLiteral("pushButton_stop"))->click();
    QTRY_COMPARE(model.state(quietRow), S::Cancelled);

    // Ending the shift with nothing in progress asks nothing.
    QVERIFY(window.endShift());
    QVERIFY(!window.inShift());
}

void TestBenchWindow::tabReachesEveryControl()
{
    // Tab and Shift+Tab go round the image row, the board ID field, the boards and the buttons,
    // and never stay inside the boards.
    QTemporaryDir dir;
    StationOptions options;
    options.ports = {writeFile(dir.path(), QStringLiteral("ttyBOARD"), QByteArray())};
    BenchWindow window(options);
    window.show();
    QApplication::setActiveWindow(&window);
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QVERIFY(window.chooseImage(
        writeSettledFile(dir.path(), QStringLiteral("fw.bin"), patternImage(600, 2))));
    window.model().setBoardId(0, QStringLiteral("x")); // a row, so that the wall takes focus
    auto *browse = window.findChild<QPushButton *>(QStringLiteral("pushButton_browse"));
    browse->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), browse);
    QStringList visited;
    for (int press = 0; press < 40; ++press) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        const QString name = QApplication::focusWidget()->objectName();
        if (name == browse->objectName())
            break;
        visited << name;
    }
    for (const QPushButton *button : window.findChildren<QPushButton *>())
        if (button->isVisibleTo(&window) && button->isEnabled() && button != browse)
            QVERIFY2(visited.contains(button->objectName()),
                     qPrintable(button->objectName() + QStringLiteral(" not in ") +
                                visited.join(QLatin1Char(' '))));
    const auto at = [&](const char *name) { return visited.indexOf(QLatin1String(name)); };
    QVERIFY2(at("pushButton_shift") < at("lineEdit_boardId") &&
                 at("lineEdit_boardId") < at("listView_wall") &&
                 at("listView_wall") < at("pushButton_slots"),
             qPrintable(visited.join(QLatin1Char(' '))));
    QCOMPARE(visited.count(QStringLiteral("listView_wall")), 1);
}

void TestBenchWindow::slotsWhileAShiftRuns()
{
    // Name slots edits a copy: the running shift keeps its names until the operator applies the
    // new file; a board plugged in while the dialog is open is not flashed.
    QTemporaryDir dir;
    const auto good = ptyDevice();
    const auto plugged = ptyDevice();
    const QString later = dir.filePath(QStringLiteral("later")); // its port, once plugged in
    StationOptions options;
    options.ports = {later};
    options.station.benchSlots = {{QStringLiteral("Bay 1"), good->portName()}};
    options.slotsFile = dir.filePath(QStringLiteral("bench.ini"));
    options.log = dir.filePath(QStringLiteral("shift.jsonl"));
    BenchWindow window(options);
    window.show();
    QVERIFY(window.chooseImage(
        writeSettledFile(dir.path(), QStringLiteral("fw.bin"), patternImage(600, 3))));
    QVERIFY(window.startShift());
    BenchModel &model = window.model();
    QTRY_COMPARE_WITH_TIMEOUT(model.state(model.rowOf(good->portName())), BenchModel::State::Passed,
                              15000);
    const auto label = [&](const QString &port) {
        return model.data(model.index(model.rowOf(port), BenchModel::Slot)).toString();
    };

    window.editSlots();
    auto *editor = window.findChild<SlotEditor *>();
    QVERIFY(editor);
    QVERIFY(QFile::link(plugged->portName(), later)); // plugged in with the dialog open
    auto *slotTable = editor->findChild<QTableWidget *>(QStringLiteral("tableWidget_slots"));
    QTRY_COMPARE(slotTable->rowCount(), 2); // taken as the next slot
    slotTable->item(0, 0)->setText(QStringLiteral("Bay 9"));
    slotTable->item(1, 0)->setText(QStringLiteral("Bay 2"));
    editor->accept();
    QTest::qWait(1500); // two looks at the ports
    QCOMPARE(model.state(model.rowOf(later)), BenchModel::State::Waiting);
    QVERIFY(plugged->record().received.isEmpty());              // never flashed
    QCOMPARE(label(good->portName()), QStringLiteral("Bay 1")); // the shift's names stay
    auto *apply = window.findChild<QPushButton *>(QStringLiteral("pushButton_applySlots"));
    QVERIFY(apply->isVisibleTo(&window));
    apply->click();
    QCOMPARE(label(good->portName()), QStringLiteral("Bay 9"));
    QCOMPARE(label(later), QStringLiteral("Bay 2"));
    QVERIFY(!apply->isVisibleTo(&window));
    QString why;
    const std::optional<Station> saved = slotfile::read(options.slotsFile, &why);
    QVERIFY2(saved && saved->benchSlots.size() == 2, qPrintable(why));
    window.endShift(false);
}

void TestBenchWindow::refusedJobStartsNoShift()
{
    // A job that is not signed: said in a box and in the window; no image to choose, no shift.
    QTemporaryDir dir;
    writeSettledFile(dir.path(), QStringLiteral("fw.bin"), patternImage(300, 1));
    const QString job = writeFile(dir.path(), QStringLiteral("line.vjob"),
                                  "[job]\nname = line\nversion = 1\nimage = fw.bin\n"
                                  "image-size = 300\nimage-sha256 = " +
                                      QByteArray(64, 'a') + '\n');
    QCommandLineParser parser;
    describeBenchOptions(parser);
    QVERIFY(parser.parse(
        {QStringLiteral("vantyx-bench"), QStringLiteral("--job"), job, QStringLiteral("--start")}));
    BenchOptions options;
    QCOMPARE(readBenchOptions(parser, &options), QString()); // not a usage error: the window's
    QVERIFY(options.station.jobProblem.contains(QStringLiteral("is not signed")));
    BenchWindow window(options.station);
    window.show();
    QString said;
    answerNextBox(&said, QMessageBox::Ok);
    window.refuseJob(options.station.jobProblem);
    QVERIFY(said.contains(QStringLiteral("is not signed")));
    QVERIFY(!window.findChild<QPushButton *>(QStringLiteral("pushButton_browse"))->isEnabled());
    QVERIFY(!window.findChild<QPushButton *>(QStringLiteral("pushButton_shift"))->isEnabled());
    QVERIFY(!window.findChild<QPushButton *>(QStringLiteral("pushButton_slots"))->isEnabled());
    QVERIFY(!window.startShift());
}

void TestBenchWindow::boardThatNeverAnswers()
{
    // A board plugged in (or retried) whose bootloader never answers: its row waits for the
    // detect limit, its time running, then says why; it never waits for ever.
    QTemporaryDir dir;
    devicesim::Pty mute; // a port with nothing answering on it
    QVERIFY2(mute.isOpen(), qPrintable(mute.error));
    StationOptions options;
    options.ports = {mute.path};
    options.log = dir.filePath(QStringLiteral("shift.jsonl"));
    options.detectTimeoutMs = 1500;
    BenchWindow window(options);
    window.show();
    QVERIFY(window.chooseImage(
        writeSettledFile(dir.path(), QStringLiteral("fw.bin"), patternImage(600, 4))));
    QVERIFY(window.startShift());
    BenchModel &model = window.model();
    QTRY_COMPARE(model.state(model.rowOf(mute.path)), BenchModel::State::Flashing);
    const QModelIndex time = model.index(model.rowOf(mute.path), BenchModel::Time);
    QTRY_VERIFY(model.data(time).toString() >= QStringLiteral("0.5 s"));
    // Ending the shift now asks, in words, and the operator keeps it.
    QString question;
    answerNextBox(&question, QMessageBox::No);
    QVERIFY(!window.endShift());
    QCOMPARE(question, QStringLiteral("1 board is being flashed. Stop it and end the shift? It "
                                      "is recorded as cancelled."));
    QTRY_COMPARE_WITH_TIMEOUT(model.state(model.rowOf(mute.path)), BenchModel::State::Failed, 5000);
    QCOMPARE(model.message(model.rowOf(mute.path)),
             QStringLiteral("no answer from the bootloader within 1.5 s"));
    QCOMPARE(window.counters().count(BoardResult::NotDetected), 1);
}

void TestBenchWindow::scanWhereverTheFocusIs()
{
    // A scanner types an ID and Enter into whatever has the focus: the table too.
    QTemporaryDir dir;
    const QString port = writeFile(dir.path(), QStringLiteral("ttyBOARD"), QByteArray());
    StationOptions options;
    options.ports = {port};
    BenchWindow window(options);
    window.show();
    QApplication::setActiveWindow(&window);
    QVERIFY(QTest::qWaitForWindowActive(&window));
    BenchModel &model = window.model();
    QTRY_COMPARE(model.rowCount(), 1);
    // On the wall and in the table alike.
    for (const char *view : {"listView_wall", "tableView_boards"}) {
        window
            .findChild<QAction *>(QLatin1String(view) == QLatin1String("listView_wall")
                                      ? QStringLiteral("action_wall")
                                      : QStringLiteral("action_table"))
            ->trigger();
        auto *boards = window.findChild<QAbstractItemView *>(QLatin1String(view));
        boards->setCurrentIndex(model.index(0, 0));
        boards->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), boards);
        const QString id = QStringLiteral("SN-") + QLatin1String(view).left(4);
        for (const QChar c : id)
            QTest::keyClick(QApplication::focusWidget(), c.toLatin1());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QCOMPARE(model.boardId(0), id);
        QVERIFY(model.boardIdIsNext(0)); // for the next board on that row
    }
}

void TestBenchWindow::windowProgramsNeedADisplay_data()
{
    QTest::addColumn<QString>("program");
    QTest::newRow("FlashLoader") << updaterPath();
    QTest::newRow("vantyx-bench") << benchPath();
}

void TestBenchWindow::windowProgramsNeedADisplay()
{
    // Over ssh, from a service: one line and a status, not Qt's abort; --help all the same.
    QFETCH(QString, program);
    QProcess window;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    window.setProcessEnvironment(environment);
    window.start(program, QStringList());
    QVERIFY(window.waitForFinished(10000));
    QCOMPARE(window.exitStatus(), QProcess::NormalExit);
    QCOMPARE(window.exitCode(), 4);
    const QString name = QFileInfo(program).fileName();
    QCOMPARE(QString::fromLocal8Bit(window.readAllStandardError()),
             name + QStringLiteral(": no display to open the window on (neither DISPLAY nor "
                                   "WAYLAND_DISPLAY is set)\n"));
    window.start(program, {QStringLiteral("--help")});
    QVERIFY(window.waitForFinished(10000));
    QCOMPARE(window.exitCode(), 0);
    QVERIFY(window.readAllStandardOutput().contains("Exit status: 0 the window was closed, 2 bad "
                                                    "usage, 4"));
}

void TestBenchWindow::everyActionHasItsOwnKey()
{
    // Every button, check box and labelled field is reached by Alt and a letter of its own.
    BenchWindow window{StationOptions()};
    QHash<QChar, QString> taken;
    QStringList texts;
    for (const QPushButton *button : window.findChildren<QPushButton *>())
        texts << button->text();
    for (const QCheckBox *box : window.findChildren<QCheckBox *>())
        texts << box->text();
    for (const QLabel *label : window.findChildren<QLabel *>())
        if (label->buddy())
            texts << label->text();
    QVERIFY(texts.size() >= 12);
    for (const QString &text : std::as_const(texts)) {
        const qsizetype at = text.indexOf(QLatin1Char('&'));
        QVERIFY2(at >= 0 && at + 1 < text.size(), qPrintable(text + QStringLiteral(": no key")));
        const QChar key = text.at(at + 1).toLower();
        QVERIFY2(
            !taken.contains(key),
            qPrintable(QStringLiteral("%1 and %2 share Alt+%3").arg(taken.value(key), text, key)));
        taken.insert(key, text);
    }
}

void TestBenchWindow::slotEditorNamesArrivals()
{
    // Plugged in one after another, each port becomes the next slot, under its stable name;
    // what was there when the editor opened is not taken.
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("bench.ini"));
    Station station;
    station.benchSlots = {{QStringLiteral("Bay 1"), QStringLiteral("/dev/ttyACM7")}};
    SlotEditor editor(station, file);
    editor.portsNow({QStringLiteral("there")});
    editor.portsNow(
        {QStringLiteral("there"), QStringLiteral("/dev/ttyACM7"), QStringLiteral("first")});
    editor.portsNow({QStringLiteral("second")}); // the first one unplugged meanwhile
    editor.accept();
    QCOMPARE(editor.result(), int(QDialog::Accepted));
    QString why;
    const std::optional<Station> saved = slotfile::read(file, &why);
    QVERIFY2(saved, qPrintable(why));
    QStringList named;
    for (const Station::Slot &slot : saved->benchSlots)
        named << slot.name + QLatin1Char('=') + slot.port;
    QCOMPARE(named, (QStringList{QStringLiteral("Bay 1=/dev/ttyACM7"),
                                 QStringLiteral("Slot 2=first"), QStringLiteral("Slot 3=second")}));
}

QTEST_MAIN(TestBenchWindow)
#include "tst_benchwindow.moc"
