#include "cli/livelines.h"

#include <QTest>

// vantyx-flash's live lines on terminals of every size: what stays as it narrows, and never
// more lines than it has rows.
class TestLiveLines : public QObject
{
    Q_OBJECT

private slots:
    void fitsTheWidth_data();
    void fitsTheWidth();
    void fitsTheRows_data();
    void fitsTheRows();
    void rowsAfterAResize_data();
    void rowsAfterAResize();
};

namespace {

// Half of a 64 KiB image sent in 2.8 s, with three resends.
LiveFigures sending()
{
    return {QStringLiteral("/dev/ttyUSB0"), FlashJob::Phase::Sending, 32768, 65536, 2.8, 3};
}

} // namespace

void TestLiveLines::fitsTheWidth_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<QStringList>("gone");
    const QString bar = QStringLiteral("[############............]");
    const QStringList all{
        QStringLiteral("/dev/ttyUSB0"), QStringLiteral("sending"),   bar,
        QStringLiteral(" 50%"),         QStringLiteral("11.7 kB/s"), QStringLiteral("0:03 left"),
        QStringLiteral("3 resends")};
    QTest::newRow("wide") << 120 << all << QStringList();
    QTest::newRow("80 columns") << 79 << all.mid(0, 6) << QStringList{all.at(6)};
    QTest::newRow("bar narrowed") << 70
                                  << QStringList{all.at(0), all.at(1),
                                                 QStringLiteral("[#######........]"), all.at(4)}
                                  << QStringList{all.at(2), all.at(6)};
    QTest::newRow("bar gone") << 56 << QStringList{all.at(0), all.at(1), all.at(3), all.at(5)}
                              << QStringList{QStringLiteral("["), all.at(6)};
    QTest::newRow("port, phase and percent")
        << 30 << QStringList{all.at(0), all.at(1), all.at(3)}
        << QStringList{QStringLiteral("left"), QStringLiteral("kB/s")};
    QTest::newRow("port and percent")
        << 20 << QStringList{all.at(0), QStringLiteral("50%")} << QStringList{all.at(1)};
    QTest::newRow("port cut") << 8 << QStringList{QStringLiteral("/dev/tty")}
                              << QStringList{QStringLiteral("%")};
}

void TestLiveLines::fitsTheWidth()
{
    QFETCH(int, width);
    QFETCH(QStringList, shown);
    QFETCH(QStringList, gone);
    const QString line = liveLine(sending(), 12, width);
    QVERIFY2(line.size() <= width, qPrintable(line));
    for (const QString &piece : shown)
        QVERIFY2(line.contains(piece), qPrintable(piece + QStringLiteral(" not in: ") + line));
    for (const QString &piece : gone)
        QVERIFY2(!line.contains(piece), qPrintable(piece + QStringLiteral(" in: ") + line));
}

void TestLiveLines::fitsTheRows_data()
{
    QTest::addColumn<int>("ports");
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("lines");
    QTest::addColumn<QString>("last");
    QTest::newRow("all fit") << 3 << 24 << 3 << QStringLiteral("/dev/ttyUSB0");
    QTest::newRow("exactly the rows but one") << 23 << 24 << 23 << QStringLiteral("/dev/ttyUSB0");
    QTest::newRow("one too many") << 24 << 24 << 23 << QStringLiteral("and 2 more");
    QTest::newRow("a bench on a small terminal")
        << 128 << 10 << 9 << QStringLiteral("and 120 more");
    QTest::newRow("a terminal of one row") << 4 << 1 << 1 << QStringLiteral("and 4 more");
}

void TestLiveLines::fitsTheRows()
{
    QFETCH(int, ports);
    QFETCH(int, rows);
    QFETCH(int, lines);
    QFETCH(QString, last);
    const QStringList drawn = liveScreen(QList<LiveFigures>(ports, sending()), 12, 79, rows);
    QCOMPARE(drawn.size(), lines);
    QVERIFY2(drawn.last().startsWith(last), qPrintable(drawn.last()));
}

void TestLiveLines::rowsAfterAResize_data()
{
    QTest::addColumn<QList<int>>("lengths");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("rows");
    QTest::newRow("as drawn") << QList<int>{79, 79, 40} << 80 << 3;
    QTest::newRow("narrowed: long lines wrapped") << QList<int>{79, 79, 40} << 40 << 5;
    QTest::newRow("narrowed a lot") << QList<int>{79, 1} << 10 << 9;
    QTest::newRow("widened") << QList<int>{79, 79} << 200 << 2;
    QTest::newRow("nothing drawn") << QList<int>{} << 80 << 0;
}

void TestLiveLines::rowsAfterAResize()
{
    QFETCH(QList<int>, lengths);
    QFETCH(int, width);
    QFETCH(int, rows);
    QCOMPARE(rowsTaken(lengths, width), rows);
}

QTEST_GUILESS_MAIN(TestLiveLines)
#include "tst_livelines.moc"
