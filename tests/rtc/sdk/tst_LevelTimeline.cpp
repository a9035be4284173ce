// The level of large capture reads handed out chunk by chunk at the pace of the sound: what a
// meter asking twenty times a second, faster or slower, sees; and bad buffers.
#include "rtc/sdk/LevelTimeline.h"

#include <QtTest>

#include <vector>

using agora::rtc::LevelTimeline;

namespace {
constexpr int kRate = 48000;
constexpr std::int64_t kReadUs = 100000;
constexpr std::int64_t kChunkUs = LevelTimeline::kChunkUs;

// Stereo samples: each entry of peaks fills one chunk (50 ms) with that amplitude, alternating
// sign so that the absolute value counts.
std::vector<std::int16_t> chunks(std::initializer_list<int> peaks)
{
    std::vector<std::int16_t> samples;
    for (const int peak : peaks) {
        for (int frame = 0; frame < kRate / 20; ++frame)
            samples.insert(samples.end(), 2, static_cast<std::int16_t>(frame % 2 ? -peak : peak));
    }
    return samples;
}
// One read of whole chunks arriving at arrivalUs.
void addRead(LevelTimeline& levels, std::initializer_list<int> peaks, std::int64_t arrivalUs)
{
    const auto samples = chunks(peaks);
    levels.add(samples.data(), samples.size(), arrivalUs, kReadUs);
}
} // namespace

class tst_LevelTimeline : public QObject
{
    Q_OBJECT

private slots:
    // A 100 ms read holds two chunks: a reader every 50 ms sees both in turn, and between two
    // reads the last value stands instead of silence.
    void twentyReportsASecondFromTenReads()
    {
        LevelTimeline levels(kRate, 2);
        std::int64_t now = 1000000;
        QList<int> seen;
        for (int read = 0; read < 3; ++read) {
            addRead(levels, {1000 * (2 * read + 1), 1000 * (2 * read + 2)}, now);
            seen << levels.take(now + 1000) << levels.take(now + kChunkUs + 1000);
            now += kReadUs;
        }
        QCOMPARE(seen, (QList<int>{1000, 2000, 3000, 4000, 5000, 6000}));

        // Asked before the next read came: the last value, not silence; after two reads
        // without any buffer the capture is stalled and the level is 0.
        const std::int64_t lastRead = now - kReadUs;
        QCOMPARE(levels.take(lastRead + 2 * kReadUs), 6000);
        QCOMPARE(levels.take(lastRead + 2 * kReadUs + 1), 0);
    }

    // Two reads delivered at once (the sound server does that): their chunks still come due
    // one at a time, a chunk apart.
    void burstOfReadsIsSpreadOut()
    {
        LevelTimeline levels(kRate, 2);
        addRead(levels, {100, 200}, 0);
        addRead(levels, {300, 400}, 0);
        QList<int> seen;
        for (std::int64_t now = 0; now < 4 * kChunkUs; now += kChunkUs)
            seen << levels.take(now);
        QCOMPARE(seen, (QList<int>{100, 200, 300, 400}));
        // The next read on time follows on.
        addRead(levels, {500, 600}, 2 * kReadUs);
        QCOMPARE(levels.take(2 * kReadUs), 500);
        QCOMPARE(levels.take(2 * kReadUs + kChunkUs), 600);
    }

    // A reader that asks rarely gets the loudest chunk since it last asked; a chunk that the
    // read leaves unfinished is completed by the next read; -32768 counts as the full scale.
    void slowReaderAndChunksAcrossReads()
    {
        LevelTimeline levels(kRate, 2);
        addRead(levels, {100, 30000, 200, 300}, 0);
        QCOMPARE(levels.take(1000000), 30000);
        QCOMPARE(levels.take(1000000 + 2 * kReadUs + 1), 0);

        const auto samples = chunks({-32768});
        const std::size_t half = samples.size() / 2;
        levels.add(samples.data(), half, 2000000, kReadUs);
        QCOMPARE(levels.take(2000000), 0); // nothing finished yet, and the stall ended the old value
        levels.add(samples.data() + half, samples.size() - half, 2025000, kReadUs);
        QCOMPARE(levels.take(2025000), 32768);
    }

    // Bad buffers: none, empty, an odd sample left over; a reset forgets all, and a queue that
    // nobody reads stays bounded.
    void undersizeAndUnreadInput()
    {
        LevelTimeline levels(kRate, 2);
        QCOMPARE(levels.take(0), 0);
        levels.add(nullptr, 100, 0, kReadUs);
        const std::int16_t one[] = {-5000};
        levels.add(one, 1, 0, kReadUs);
        levels.add(one, 0, 0, kReadUs);
        QCOMPARE(levels.take(0), 0);

        for (int i = 0; i < 1000; ++i)
            addRead(levels, {7000}, 0);
        QCOMPARE(levels.take(2 * kReadUs), 7000); // never more than two reads behind
        levels.reset();
        QCOMPARE(levels.take(0), 0);
    }
};

QTEST_GUILESS_MAIN(tst_LevelTimeline)
#include "tst_LevelTimeline.moc"
