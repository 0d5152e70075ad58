#include "window/serial/stopwatch.h"

#include <QTest>

class TestStopwatch : public QObject
{
    Q_OBJECT

private slots:
    void truncatesToWholeMilliseconds_data();
    void truncatesToWholeMilliseconds();
    void resetReportsZero();
    void stoppedValueIsConstant();
    void restartMeasuresFromNewStart();
};

void TestStopwatch::truncatesToWholeMilliseconds_data()
{
    QTest::addColumn<qint64>("spanNs");
    QTest::addColumn<double>("ms");
    QTest::addColumn<double>("seconds");
    QTest::addColumn<bool>("over2");
    QTest::addColumn<bool>("over5");

    QTest::newRow("1999999 ns") << qint64(1999999) << 1.0 << 0.001 << false << false;
    QTest::newRow("just under 1 ms") << qint64(999999) << 0.0 << 0.0 << false << false;
    QTest::newRow("2000 ms") << qint64(2000) * 1000000 << 2000.0 << 2.0 << false << false;
    QTest::newRow("2000.999 ms") << qint64(2000999999) << 2000.0 << 2.0 << false << false;
    QTest::newRow("2001 ms") << qint64(2001) * 1000000 << 2001.0 << 2.001 << true << false;
    QTest::newRow("5000.9 ms") << qint64(5000900000) << 5000.0 << 5.0 << true << false;
    QTest::newRow("5001 ms") << qint64(5001) * 1000000 << 5001.0 << 5.001 << true << true;
    QTest::newRow("negative span") << qint64(-1500000) << -1.0 << -0.001 << false << false;
}

void TestStopwatch::truncatesToWholeMilliseconds()
{
    QFETCH(qint64, spanNs);
    QFETCH(double, ms);
    QFETCH(double, seconds);
    QFETCH(bool, over2);
    QFETCH(bool, over5);

    Stopwatch watch;
    watch.startTime = 1700000000000000000;
    watch.stopTime = watch.startTime + spanNs;
    QCOMPARE(watch.elapsedMilliseconds(), ms);
    QCOMPARE(watch.elapsedSeconds(), seconds);
    QCOMPARE(watch.elapsedSeconds() > 2.0, over2);
    QCOMPARE(watch.elapsedSeconds() > 5.0, over5);
}

void TestStopwatch::resetReportsZero()
{
    Stopwatch watch;
    watch.start();
    QTest::qWait(5);
    watch.stop();
    watch.reset();
    QCOMPARE(watch.startTime, 0);
    QCOMPARE(watch.stopTime, 0);
    QVERIFY(!watch.running);
    QCOMPARE(watch.elapsedMilliseconds(), 0.0);
    QTest::qWait(5);
    QCOMPARE(watch.elapsedSeconds(), 0.0);
}

void TestStopwatch::stoppedValueIsConstant()
{
    Stopwatch watch;
    watch.start();
    QTest::qWait(20);
    watch.stop();
    const double first = watch.elapsedMilliseconds();
    QVERIFY(first >= 19);
    QTest::qWait(20);
    QCOMPARE(watch.elapsedMilliseconds(), first);
}

void TestStopwatch::restartMeasuresFromNewStart()
{
    Stopwatch watch;
    watch.start();
    QTest::qWait(60);
    watch.stop();
    const qint64 oldStop = watch.stopTime;
    watch.start();
    QCOMPARE(watch.stopTime, oldStop); // left alone, and ignored while running
    QVERIFY(watch.running);
    QVERIFY(watch.elapsedMilliseconds() < 50);
    QTRY_VERIFY(watch.elapsedMilliseconds() >= 10);
}

QTEST_GUILESS_MAIN(TestStopwatch)
#include "tst_stopwatch.moc"
