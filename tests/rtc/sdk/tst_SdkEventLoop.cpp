// When the SDK loop's repeating timers tick: timers whose periods divide one another must share
// the thread's wake-ups, whenever each was started.
#include "rtc/sdk/SdkEventLoop.h"

#include <QtTest>

using namespace agora::rtc;

class tst_SdkEventLoop : public QObject
{
    Q_OBJECT

private slots:
    void periodsOnTheGridTickOnTheirOwnMultiples();
};

void tst_SdkEventLoop::periodsOnTheGridTickOnTheirOwnMultiples()
{
    constexpr std::int64_t msUs = 1000;
    // Start moments that are on no grid at all, and one exactly on it.
    for (const std::int64_t nowUs : {std::int64_t(7'123'457), std::int64_t(7'223'001), std::int64_t(8'000'000)}) {
        for (const std::int64_t intervalUs : {50 * msUs, 500 * msUs, 2000 * msUs}) {
            const std::int64_t firstUs = SdkEventLoop::firstTickUs(nowUs, intervalUs);
            QCOMPARE(firstUs % intervalUs, std::int64_t(0));
            // Never at once, and about one period away.
            QVERIFY2(firstUs > nowUs, qPrintable(QString::number(intervalUs)));
            QVERIFY(std::llabs(firstUs - (nowUs + intervalUs)) <= intervalUs / 2);
        }
    }
    // The capture's check and the look at the relays, started 100 ms apart, wake together; and
    // the statistics every 2 s on one of their ticks.
    const std::int64_t checkUs = SdkEventLoop::firstTickUs(7'123'457, 500 * msUs);
    const std::int64_t relaysUs = SdkEventLoop::firstTickUs(7'223'457, 500 * msUs);
    QCOMPARE((relaysUs - checkUs) % (500 * msUs), std::int64_t(0));
    QCOMPARE((SdkEventLoop::firstTickUs(7'323'457, 2000 * msUs) - checkUs) % (500 * msUs), std::int64_t(0));
    // Periods off the grid (connecting relays) keep their own phase.
    QCOMPARE(SdkEventLoop::firstTickUs(7'123'457, 20 * msUs), std::int64_t(7'143'457));
}

QTEST_GUILESS_MAIN(tst_SdkEventLoop)
#include "tst_SdkEventLoop.moc"
