#include "cli/interrupt.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <thread>

// A request from another thread, as Windows sends the console's events: Ctrl-C returns at
// once; a closed console, a log-off or a shut-down returns only once the run has said all, or
// when the grace time is up, since the system ends the process when the handler returns.
class TestInterrupt : public QObject
{
    Q_OBJECT

private slots:
    void requestFromAnotherThread_data();
    void requestFromAnotherThread();
    void nothingToAsk();
};

void TestInterrupt::requestFromAnotherThread_data()
{
    QTest::addColumn<bool>("wait");
    QTest::addColumn<int>("releaseAfterMs"); // -1: never
    QTest::addColumn<int>("graceMs");
    QTest::addColumn<int>("earliestMs"); // when the request may return at the soonest
    QTest::addColumn<int>("latestMs");
    QTest::newRow("Ctrl-C") << false << 400 << 3000 << 0 << 300;
    QTest::newRow("closed console, run ends") << true << 400 << 3000 << 350 << 2500;
    QTest::newRow("closed console, run stuck") << true << -1 << 800 << 800 << 2500;
}

void TestInterrupt::requestFromAnotherThread()
{
    QFETCH(bool, wait);
    QFETCH(int, releaseAfterMs);
    QFETCH(int, graceMs);
    QFETCH(int, earliestMs);
    QFETCH(int, latestMs);

    Interrupt interrupt;
    int requests = 0;
    QElapsedTimer clock;
    qint64 releasedAt = -1;
    connect(&interrupt, &Interrupt::requested, this, [&] {
        ++requests;
        if (releaseAfterMs >= 0)
            QTimer::singleShot(releaseAfterMs, &interrupt, [&] {
                releasedAt = clock.elapsed();
                interrupt.release();
            });
    });
    std::atomic<qint64> returnedAt{-1};
    std::atomic<bool> answered{false};
    clock.start();
    std::thread console([&] {
        answered = Interrupt::requestFromAnyThread(wait, graceMs);
        returnedAt = clock.elapsed();
    });
    QTRY_VERIFY_WITH_TIMEOUT(returnedAt >= 0, 5000);
    console.join();
    QVERIFY(answered);
    // Delivered on this thread's event loop, which may not have run since the request returned.
    QTRY_COMPARE_WITH_TIMEOUT(requests, 1, 5000);
    QVERIFY2(returnedAt >= earliestMs && returnedAt <= latestMs,
             qPrintable(QString::number(returnedAt)));
    if (wait && releaseAfterMs >= 0)
        QVERIFY(releasedAt >= 0 && returnedAt >= releasedAt); // not before the run said all
}

void TestInterrupt::nothingToAsk()
{
    // Once the Interrupt is gone the system's default handling applies.
    {
        Interrupt gone;
    }
    QVERIFY(!Interrupt::requestFromAnyThread(true, 5000));
}

QTEST_GUILESS_MAIN(TestInterrupt)
#include "tst_interrupt.moc"
