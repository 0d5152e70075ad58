#include "benchwindow/benchmodel.h"
#include "benchwindow/shiftcounters.h"
#include "benchwindow/tilelook.h"
#include "cli/reporttext.h"
#include "engine/link/portlinks.h"
#include "metrics/shiftmetrics.h"

#include <QRegularExpression>
#include <QTest>

#include <memory>

// The bench window's rules without a window or a port: what a row says and allows after what
// happened on its port, and the shift's figures, the same in every front end.
class TestBenchModel : public QObject
{
    Q_OBJECT

private slots:
    void rows_data();
    void rows();
    void tileColours_data();
    void tileColours();
    void counters_data();
    void counters();
};

namespace {

BoardRecord record(const QString &port, BoardResult result, double seconds = 10)
{
    BoardRecord board;
    board.port = port;
    board.result = result;
    board.seconds = seconds;
    return board;
}

} // namespace

void TestBenchModel::rows_data()
{
    // What happens to port "a", in order: seen (plugged in, or there at a look), gone,
    // start (a job starts on it), ok / failed / cancelled (its job ends so), id (an ID typed).
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<int>("state");
    QTest::addColumn<bool>("canFlash");
    QTest::addColumn<bool>("canRetry");
    QTest::addColumn<bool>("waiting");
    QTest::addColumn<QString>("boardId");
    QTest::addColumn<QString>("tile"); // the word its tile on the wall says
    using S = BenchModel::State;
    auto row = [](const char *name, const char *events, S state, bool flash, bool retry,
                  bool waiting, const char *id = "", const char *tile = "") {
        QTest::newRow(name) << QString::fromLatin1(events).split(QLatin1Char(' ')) << int(state)
                            << flash << retry << waiting << QString::fromLatin1(id)
                            << QString::fromLatin1(tile);
    };
    row("plugged in", "seen", S::Waiting, true, false, true, "", "Waiting");
    row("being flashed", "seen start", S::Flashing, false, false, false, "", "Waking");
    row("passed, still there", "seen start ok", S::Passed, true, false, false, "", "Passed");
    row("failed, still there: retry", "seen start failed", S::Failed, true, true, false, "",
        "Failed");
    row("cancelled: retry", "seen start cancelled", S::Cancelled, true, true, false, "",
        "Cancelled");
    // A tile that passed stays green until its board is pulled.
    row("passed, then unplugged", "seen start ok gone", S::Passed, false, false, false, "",
        "Unplugged");
    row("failed, then unplugged: no retry", "seen start failed gone", S::Failed, false, false,
        false, "", "Unplugged");
    row("unplugged while waiting", "seen gone", S::Absent, false, false, false, "", "Unplugged");
    row("a new board after a pass", "seen start ok gone seen", S::Waiting, true, false, true, "",
        "Waiting");
    row("an ID before the board", "seen id", S::Waiting, true, false, true, "B-17");
    // An ID belongs to its board: shown until the next board starts, never that board's.
    row("an ID goes with its board, and stays shown", "seen id start ok", S::Passed, true, false,
        false, "B-17");
    row("an ID while it is flashed", "seen start id", S::Flashing, false, false, false, "B-17");
    row("an ID kept over a replug", "seen id gone seen", S::Waiting, true, false, true, "B-17");
    row("a cancelled board's ID is not the next board's", "seen id start cancelled gone seen start",
        S::Flashing, false, false, false);
    row("a passed board's ID leaves with it", "seen start id ok gone seen", S::Waiting, true, false,
        true);
}

void TestBenchModel::rows()
{
    QFETCH(QStringList, events);
    QFETCH(int, state);
    QFETCH(bool, canFlash);
    QFETCH(bool, canRetry);
    QFETCH(bool, waiting);
    QFETCH(QString, boardId);
    QFETCH(QString, tile);
    BenchModel model;
    const QString a = QStringLiteral("a");
    const BenchModel::Port port{a, QStringLiteral("SN1"), true, true, QString(), QString()};
    const BenchModel::Port other{QStringLiteral("b"), QString(), true, true, QString(), QString()};
    auto image = std::make_shared<PaddedImage>();
    image->data.reset(new char[512]);
    image->size = 256;
    std::unique_ptr<FlashJob> job;
    QString jobId; // the ID the run gives the board on "a", as FlashRun does
    const auto results =
        QHash<QString, BoardResult>{{QStringLiteral("ok"), BoardResult::Ok},
                                    {QStringLiteral("failed"), BoardResult::Failed},
                                    {QStringLiteral("cancelled"), BoardResult::Cancelled}};
    for (const QString &event : std::as_const(events)) {
        if (event == QStringLiteral("seen"))
            model.setPresent({port, other});
        else if (event == QStringLiteral("gone"))
            model.setPresent({other});
        else if (event == QStringLiteral("start")) {
            job = std::make_unique<FlashJob>(a, linkForPort(a, nullptr), image, 0);
            const int at = model.rowOf(a);
            jobId = model.boardIdIsNext(at) ? model.boardId(at) : QString();
            model.jobStarted(job.get(), jobId);
        } else if (event == QStringLiteral("id")) {
            model.setBoardId(model.rowOf(a), QStringLiteral("B-17"));
            if (model.state(model.rowOf(a)) == BenchModel::State::Flashing)
                jobId = QStringLiteral("B-17");
        } else {
            BoardRecord board = record(a, results.value(event));
            board.boardId = std::exchange(jobId, QString());
            model.jobFinished(board);
        }
        model.refresh();
    }
    const int row = model.rowOf(a);
    QCOMPARE(row, 0); // in the order first seen
    QCOMPARE(int(model.state(row)), state);
    QCOMPARE(model.canFlash(row), canFlash);
    QCOMPARE(model.canRetry(row), canRetry);
    QCOMPARE(model.isWaiting(row), waiting);
    QCOMPARE(model.boardId(row), boardId);
    QCOMPARE(model.rowCount(), 2);
    const TileLook look = TileLook::of(model, row, false);
    if (!tile.isEmpty())
        QCOMPARE(look.word, tile);
    QCOMPARE(look.boardId, boardId);
    if (look.kind == TileLook::Kind::Failed)
        QCOMPARE(look.detail, model.message(row)); // why, on the tile itself
}

void TestBenchModel::tileColours_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("dark");
    for (int kind = int(TileLook::Kind::Waiting); kind <= int(TileLook::Kind::Ignored); ++kind)
        for (bool dark : {false, true})
            QTest::addRow("kind %d, %s", kind, dark ? "dark" : "light") << kind << dark;
}

void TestBenchModel::tileColours()
{
    // Read from two metres in a bright hall or a dim one: every tile's words at 4.5:1 at least.
    QFETCH(int, kind);
    QFETCH(bool, dark);
    QColor background, text;
    TileLook::colours(TileLook::Kind(kind), dark, &background, &text);
    QVERIFY2(contrastRatio(background, text) >= 4.5,
             qPrintable(QString::number(contrastRatio(background, text))));
}

void TestBenchModel::counters_data()
{
    // Results as o (ok), f (failed), n (not detected), p (port error), c (cancelled), each
    // board taking 10 s more than the one before, from 10 s; the shift lasts `minutes`.
    QTest::addColumn<QString>("results");
    QTest::addColumn<int>("minutes");
    QTest::addColumn<int>("passed");
    QTest::addColumn<int>("failed");
    QTest::addColumn<double>("yield");
    QTest::addColumn<double>("perHour");
    QTest::addColumn<double>("median");
    QTest::newRow("none yet") << "" << 0 << 0 << 0 << 0.0 << 0.0 << 0.0;
    QTest::newRow("three passed, odd median") << "ooo" << 60 << 3 << 0 << 1.0 << 3.0 << 20.0;
    QTest::newRow("even median") << "oooo" << 30 << 4 << 0 << 1.0 << 8.0 << 25.0;
    // Every kind of failure counts as one; a cancelled board is neither.
    QTest::newRow("failures of every kind, one cancelled")
        << "ofnpc" << 60 << 1 << 3 << 0.25 << 4.0 << 10.0;
    QTest::newRow("only failures") << "ff" << 120 << 0 << 2 << 0.0 << 1.0 << 0.0;
    QTest::newRow("cancelled boards alone") << "cc" << 60 << 0 << 0 << 0.0 << 0.0 << 0.0;
    QTest::newRow("a shift as vantyx-flash once counted it")
        << "oooc" << 60 << 3 << 0 << 1.0 << 3.0 << 20.0;
}

void TestBenchModel::counters()
{
    // One list of results, fed to the one tally, read by the three front ends: the bench's
    // counters, vantyx-flash's summary and the metrics (as the README's PromQL reads them).
    QFETCH(QString, results);
    QFETCH(int, minutes);
    QFETCH(int, passed);
    QFETCH(int, failed);
    QFETCH(double, yield);
    QFETCH(double, perHour);
    QFETCH(double, median);
    const QHash<QChar, BoardResult> kinds{{QLatin1Char('o'), BoardResult::Ok},
                                          {QLatin1Char('f'), BoardResult::Failed},
                                          {QLatin1Char('n'), BoardResult::NotDetected},
                                          {QLatin1Char('p'), BoardResult::PortError},
                                          {QLatin1Char('c'), BoardResult::Cancelled}};
    ShiftTally tally;
    ShiftMetrics metrics;
    // Out of order, as boards on a bench end: the median does not depend on it.
    for (qsizetype i = results.size() - 1; i >= 0; --i) {
        const BoardRecord board =
            record(QStringLiteral("p"), kinds.value(results.at(i)), 10.0 * (i + 1));
        tally.add(board);
        metrics.boardStarted();
        metrics.boardFinished(board);
    }
    QCOMPARE(tally.passed(), passed);
    QCOMPARE(tally.failed(), failed);
    QCOMPARE(tally.yield(), yield);
    QCOMPARE(tally.boardsPerHour(qint64(minutes) * 60000), perHour);
    QCOMPARE(tally.medianSeconds(), median);
    const int cancelled = int(results.count(QLatin1Char('c')));
    QCOMPARE(tally.cancelled(), cancelled);

    const QString yieldText = QString::number(yield * 100, 'f', 1);
    const QString bench = countersText(tally);
    QVERIFY2(bench.startsWith(QStringLiteral("Passed <b>%1</b> &nbsp; Failed <b>%2</b> &nbsp; "
                                             "Yield <b>%3 %</b>")
                                  .arg(passed)
                                  .arg(failed)
                                  .arg(passed + failed > 0 ? yieldText : QStringLiteral("–"))),
             qPrintable(bench));
    QCOMPARE(bench.contains(QStringLiteral("Cancelled <b>%1</b>").arg(cancelled)), cancelled > 0);

    const QString summary = summaryLine(tally, ImageRecord());
    QString expected = QStringLiteral("summary: %1 succeeded, %2 failed").arg(passed).arg(failed);
    if (cancelled > 0)
        expected += QStringLiteral(", %1 cancelled").arg(cancelled);
    if (passed + failed > 0)
        expected += QStringLiteral(", yield %1%").arg(yieldText);
    QVERIFY2(summary.startsWith(expected), qPrintable(summary));

    // sum(ok) / sum(result != "cancelled"), from the text a scraper reads.
    QHash<QString, double> boards;
    const QStringList lines = QString::fromUtf8(metrics.text()).split(QLatin1Char('\n'));
    static const QRegularExpression total(
        QStringLiteral("^vantyx_boards_total\\{result=\"([a-z-]+)\"\\} (\\d+)$"));
    for (const QString &line : lines)
        if (const QRegularExpressionMatch match = total.match(line); match.hasMatch())
            boards.insert(match.captured(1), match.captured(2).toDouble());
    double all = 0;
    for (auto at = boards.cbegin(); at != boards.cend(); ++at)
        all += at.key() == QStringLiteral("cancelled") ? 0 : at.value();
    QCOMPARE(boards.value(QStringLiteral("ok")), double(passed));
    QCOMPARE(all - boards.value(QStringLiteral("ok")), double(failed));
    QCOMPARE(boards.value(QStringLiteral("cancelled")), double(cancelled));
    QCOMPARE(all > 0 ? boards.value(QStringLiteral("ok")) / all : 0.0, yield);
}

QTEST_MAIN(TestBenchModel)
#include "tst_benchmodel.moc"
