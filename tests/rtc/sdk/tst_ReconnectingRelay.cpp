// One publish address with connections the test drives on the one clock: callbacks, log, statistics.
#include "base/VClock.h"
#include "rtc/sdk/CallStatistics.h"
#include "rtc/sdk/ReconnectingRelay.h"
#include "support/ManualClock.h"
#include "support/RtcEventRecorder.h"

#include <QtTest>

using namespace agora::rtc;

namespace {

const QString kUrl = QStringLiteral("rtmp://127.0.0.1:1935/live/unit");

struct FakeConnection : IRelayConnection
{
    ServerCounts counts;
    bool connected = false;
    uint64_t flv = 0, aac = 0;
    int closedWithWaitMs = -1;
    ServerCounts serverCounts() const override { return counts; }
    bool isConnected() const override { return connected; }
    uint64_t flvBytes() const override { return flv; }
    uint64_t aacBytes() const override { return aac; }
    void close(int eosWaitMs) override { closedWithWaitMs = eosWaitMs; }
};

struct Fixture
{
    ManualClock clock;
    RtcEventRecorder events;
    QStringList log;
    std::vector<std::shared_ptr<FakeConnection>> opened;
    QString refuseOpen; // while set, opening fails with this error
    ReconnectingRelay relay{
        kUrl,
        {[this](const QString&, QString& error) -> std::shared_ptr<IRelayConnection> {
             error = refuseOpen;
             if (!refuseOpen.isEmpty())
                 return nullptr;
             opened.push_back(std::make_shared<FakeConnection>());
             return opened.back();
         },
         [this](std::function<void(IRtcEngineEventHandler*)> callback) { callback(&events); },
         [this](const QString& line) { log.append(line); }, [] {}}};

    QString startError;
    Fixture() { relay.start(now(), startError); }
    FakeConnection& current() { return *opened.back(); }
    static qint64 now() { return VClock::monotonicMs(); }
    void advanceAndPoll(qint64 ms) { clock.advance(ms), relay.poll(now(), now()); }
    void fail(const QString& e = "Connection refused") { relay.onConnectionError(&current(), e, now()); }
    void connect() { current().connected = true, advanceAndPoll(200); }
    // The server acknowledged this much of the FLV handed over, which carries this much AAC.
    void acknowledge(uint64_t acked, uint64_t flv, uint64_t aac)
    {
        current().counts.ackedBytes = acked, current().flv = flv, current().aac = aac;
        advanceAndPoll(200);
    }
};

} // namespace

class tst_ReconnectingRelay : public QObject
{
    Q_OBJECT

private slots:
    // A server that never answers: 1, 2, 4, 8 s, then every 10 s, none a millisecond early.
    void unreachableServerIsTriedOnTheSchedule()
    {
        Fixture f;
        f.fail();
        const QList<int> delaysMs = {1000, 2000, 4000, 8000, 10000, 10000};
        for (int attempt = 1; attempt <= delaysMs.size(); ++attempt) {
            const int delay = delaysMs.at(attempt - 1);
            QCOMPARE(f.events.briefs().last(),
                     QStringLiteral("onRtmpStreamingReconnecting %1 %2").arg(attempt).arg(delay));
            const size_t opens = f.opened.size();
            f.advanceAndPoll(delay - 1);
            QCOMPARE(f.opened.size(), opens);
            f.advanceAndPoll(1);
            QCOMPARE(f.opened.size(), opens + 1);
            QVERIFY(f.log.last().endsWith(QString(": attempt %1 to reach the server again").arg(attempt)));
            f.fail();
        }
        QCOMPARE(f.events.count("onRtmpStreamingStateChanged", kRtmpStateRecovering), delaysMs.size() + 1);
        // Reaching the server starts the schedule over; the publish succeeds once it runs.
        f.advanceAndPoll(10000);
        f.connect();
        QCOMPARE(f.log.last(), QStringLiteral("relay to %1 running again after 7 attempts").arg(kUrl));
        f.fail();
        QCOMPARE(f.events.briefs().mid(f.events.briefs().size() - 4),
                 (QStringList{"onRtmpStreamingStateChanged 2 0", "onStreamPublished 0 0",
                              "onRtmpStreamingStateChanged 3 4", "onRtmpStreamingReconnecting 1 1000"}));
        QCOMPARE(f.events.briefs().filter("onStreamPublished"),
                 QStringList({"onStreamPublished 2 0", "onStreamPublished 0 0"}));
    }

    // The code of a failure: each family reported as its own, not as its neighbour's.
    void failureCodes()
    {
        // (error, while running, when opening the next attempt, code)
        const std::tuple<const char*, bool, bool, int> rows[] = {
            {"Could not connect: Connection refused", false, false, kRtmpErrorConnectionFailed},
            {"Failed to resolve host", false, false, kRtmpErrorConnectionFailed},
            {"Operation timed out", false, false, kRtmpErrorConnectionFailed},
            {"Stream rejected: publish denied", false, false, kRtmpErrorServerRejected},
            {"Connection refused", true, false, kRtmpErrorConnectionLost},
            {"no encoder", false, true, kRtmpErrorInternal}};
        for (const auto& [error, running, opening, code] : rows) {
            Fixture f;
            if (running)
                f.connect();
            if (opening)
                f.fail(), f.refuseOpen = error, f.advanceAndPoll(1000);
            else
                f.fail(error);
            QCOMPARE(f.events.briefs().filter("onRtmpStreamingStateChanged").last(),
                     QStringLiteral("onRtmpStreamingStateChanged 3 %1").arg(code));
            QVERIFY2(f.log.last().contains(QStringLiteral("failed (code %1): %2").arg(code).arg(error)),
                     error);
        }
    }

    // More than two windows owed and nothing acknowledged for 3 s is a lost server; less is not.
    void stalledServer()
    {
        // (acknowledgement window, bytes owed, quiet ms, fails)
        const std::tuple<uint32_t, uint64_t, qint64, bool> rows[] = {
            {2500, 5001, 3000, true},  // stalled
            {2500, 5001, 2999, false}, // not quiet long enough
            {2500, 5000, 9000, false}, // owes just two windows
            {0, 900000, 9000, false}}; // no window announced
        for (const auto& [window, owed, quietMs, fails] : rows) {
            Fixture f;
            f.connect();
            // Acknowledgements move at first: the quiet time counts from the last one.
            f.current().counts = {40000, 30000, 0, window};
            f.advanceAndPoll(2000);
            f.current().counts.sentBytes = 30000 + owed;
            f.advanceAndPoll(quietMs);
            QCOMPARE(f.events.count("onRtmpStreamingStateChanged", kRtmpStateRecovering), fails ? 1 : 0);
            if (fails)
                QCOMPARE(f.log.last(), "relay to " + kUrl +
                                           " failed (code 6): the server has acknowledged nothing for " +
                                           QString::number(quietMs) + " ms (" + QString::number(owed) +
                                           " bytes owed); next attempt (1) in 1000 ms");
        }
    }

    // From the connection's TCP (a server acknowledging only every few MB): nothing acknowledged while
    // bytes wait, or a window shrunk by 8 KiB without growing, for 3 s is a server that stopped reading.
    void stalledServerTcp()
    {
        // (bytes waiting, window before and after, quiet ms, failure)
        const std::tuple<uint64_t, int64_t, int64_t, qint64, QString> rows[] = {
            {1, 65536, 65536, 3000, "the server's TCP has acknowledged nothing for 3000 ms (1 bytes waiting)"},
            {1, 65536, 65536, 2999, ""},
            {0, 65536, 65536, 9000, ""}, // nothing waits
            {0, 97000, 88808, 3000, "the server has read nothing for 3000 ms (its window shrank from 97000 to 88808 bytes)"},
            {0, 97000, 88809, 9000, ""},
            {0, 97000, 88808, 2999, ""},
            {0, -1, -1, 9000, ""}}; // no window told
        for (const auto& [waiting, before, after, quietMs, failure] : rows) {
            Fixture f;
            f.connect();
            auto& counts = f.current().counts;
            counts.tcpKnown = true, counts.tcpAckedBytes = 5000, counts.tcpWindowBytes = before;
            f.advanceAndPoll(200);
            QCOMPARE(f.relay.ackedBytes(), uint64_t(5000)); // what the server's TCP confirmed
            counts.tcpWaitingBytes = waiting, counts.tcpWindowBytes = after;
            f.advanceAndPoll(quietMs);
            QCOMPARE(f.events.count("onRtmpStreamingStateChanged", kRtmpStateRecovering), failure.isEmpty() ? 0 : 1);
            if (!failure.isEmpty())
                QVERIFY2(f.log.last().contains("(code 6): " + failure), qPrintable(f.log.last()));
        }
    }

    // Acknowledged bytes add up across reconnects and removed relays; a new stay starts from zero.
    void acknowledgementsAddUpAcrossConnections()
    {
        Fixture f;
        f.connect();
        f.acknowledge(10000, 20000, 15000);
        f.fail();
        f.advanceAndPoll(1000);
        f.connect();
        f.acknowledge(4000, 8000, 4000);
        QCOMPARE(QList<uint64_t>({f.relay.ackedBytes(), f.relay.ackedAacBytes()}),
                 QList<uint64_t>({14000, 9500}));
        QCOMPARE(f.relay.ackedKBitRate(f.now()), uint64_t(0)); // one sample of the new connection yet

        CallStatistics statistics;
        statistics.start();
        QCOMPARE(statistics.current({&f.relay}, 2000, 2500).txBytes, 14000u);
        f.relay.stop(f.now(), f.now(), true);
        QVERIFY(f.log.last().endsWith("stopped: 4000 bytes acknowledged by the server (8000 handed over)"));
        QCOMPARE(f.current().closedWithWaitMs, 1000); // a running stream drains
        QCOMPARE(f.events.briefs().mid(f.events.briefs().size() - 2),
                 (QStringList{"onRtmpStreamingStateChanged 0 0", "onStreamUnpublished 0 0"}));
        statistics.retire(f.relay);
        const RtcStats removed = statistics.current({}, 2000, 2500);
        QCOMPARE(QList<uint>({removed.txBytes, removed.txAudioBytes, removed.duration}),
                 QList<uint>({14000, 9500, 2}));
        statistics.start();
        QCOMPARE(statistics.current({}, 2000, 0).txBytes, 0u);
    }

    // Acknowledged kbit/s over the samples' span; none when quiet 3 s or samples under 1 s apart (0.5 s
    // from the connection's TCP).
    void acknowledgedRate()
    {
        // (ms between two samples at 125 bytes a ms, ms when asked, from TCP) -> kbit/s
        const QList<QList<qint64>> rows = {{2000, 2000, 0, 1000}, {2000, 4999, 0, 1000}, {2000, 5000, 0, 0},
                                           {999, 999, 0, 0},      {500, 500, 1, 1000},   {499, 499, 1, 0}};
        for (const QList<qint64>& row : rows) {
            Fixture f;
            f.connect();
            uint64_t& acked = row[2] ? f.current().counts.tcpAckedBytes : f.current().counts.ackedBytes;
            acked = 1000;
            f.relay.poll(f.now(), 0);
            acked = 1000 + static_cast<uint64_t>(row[0]) * 125;
            f.relay.poll(f.now(), row[0]);
            QCOMPARE(f.relay.ackedKBitRate(row[1]), uint64_t(row[3]));
        }
    }

    // A replaced connection's error changes nothing; the sending quality follows the relay.
    void lateErrorsAndQuality()
    {
        Fixture f;
        QCOMPARE(CallStatistics::txQuality({&f.relay}, true), 0);
        const std::shared_ptr<FakeConnection> first = f.opened.back();
        f.fail();
        QCOMPARE(first->closedWithWaitMs, 0);
        QCOMPARE(CallStatistics::txQuality({&f.relay}, false), 6);
        f.advanceAndPoll(1000);
        const int seen = f.events.events().size();
        f.relay.onConnectionError(first.get(), QStringLiteral("late"), f.now());
        QCOMPARE(f.events.events().size(), seen);
        f.connect();
        QCOMPARE(CallStatistics::txQuality({&f.relay}, true), 1);
        QCOMPARE(CallStatistics::txQuality({&f.relay}, false), 0);
    }
};

QTEST_GUILESS_MAIN(tst_ReconnectingRelay)
#include "tst_ReconnectingRelay.moc"
