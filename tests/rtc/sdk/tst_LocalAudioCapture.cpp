// The capture's decisions without a sound server: the reads gathered from the server's pieces, the
// meter's levels, silence for a lost device, its return.
#include "rtc/sdk/CaptureChunker.h"
#include "rtc/sdk/LevelTimeline.h"
#include "rtc/sdk/LocalAudioCapture.h"
#include "rtc/sdk/PulseCapture.h"

#include <QtTest>

#include <vector>

using agora::rtc::CaptureChunker;
using agora::rtc::GstAudioDevices;
using agora::rtc::LevelTimeline;
using agora::rtc::LocalAudioCapture;
using agora::rtc::PulseCapture;

namespace {
constexpr int kRate = 48000;
constexpr std::int64_t kReadUs = 100000;
constexpr std::int64_t kChunkUs = LevelTimeline::kChunkUs;

// Stereo samples, one 50 ms chunk of each peak, alternating sign so that the absolute value counts.
std::vector<std::int16_t> chunks(std::initializer_list<int> peaks)
{
    std::vector<std::int16_t> samples;
    for (const int peak : peaks)
        for (int frame = 0; frame < kRate / 20; ++frame)
            samples.insert(samples.end(), 2, static_cast<std::int16_t>(frame % 2 ? -peak : peak));
    return samples;
}
// One read of whole chunks arriving at arrivalUs.
void addRead(LevelTimeline& levels, std::initializer_list<int> peaks, std::int64_t arrivalUs)
{
    const auto samples = chunks(peaks);
    levels.add(samples.data(), samples.size(), arrivalUs, kReadUs);
}
} // namespace

class tst_LocalAudioCapture : public QObject
{
    Q_OBJECT

private slots:
    // Pieces of any size (a sample split between two, holes) make whole reads; volume and mute
    // apply to every sample, louder saturates.
    void readsGatheredFromPieces()
    {
        CaptureChunker chunker(4);
        QList<QList<int>> reads;
        const auto ready = [&reads](const std::int16_t* samples, std::size_t count) {
            reads.append(QList<int>(samples, samples + count));
        };
        const std::int16_t samples[] = {1000, -1000, 32767, -32768, 300, 7};
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(samples);
        chunker.append(bytes, 3, ready); // ends inside the second sample
        chunker.append(bytes + 3, 5, ready);
        chunker.append(nullptr, 3, ready); // a hole, also split
        chunker.append(nullptr, 1, ready);
        chunker.append(bytes + 8, 0, ready);
        chunker.setVolume(2.0);
        chunker.append(bytes, 10, ready);
        chunker.setVolume(0.5);
        chunker.append(bytes + 10, 2, ready);
        chunker.setMuted(true);
        chunker.append(bytes, 9, ready); // muted, and half a sample left over
        chunker.reset();                 // which a new capture forgets
        chunker.setMuted(false);
        chunker.setVolume(1.0);
        chunker.append(bytes, 8, ready);
        const QList<QList<int>> expected = {{1000, -1000, 32767, -32768},
                                            {0, 0, 2000, -2000},
                                            {32767, -32768, 600, 3},
                                            {0, 0, 0, 0},
                                            {1000, -1000, 32767, -32768}};
        QCOMPARE(reads, expected);
    }

    // A 100 ms read holds two chunks: a reader every 50 ms sees both in turn.
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

        // Before the next read: the last value; two reads late the capture is stalled: 0.
        const std::int64_t lastRead = now - kReadUs;
        QCOMPARE(levels.take(lastRead + 2 * kReadUs), 6000);
        QCOMPARE(levels.take(lastRead + 2 * kReadUs + 1), 0);

        // When the capture reports: a read brings a report, the next comes at the interval and
        // the one after waits past the next read, which brings it (a read a little early or
        // late must not cost a report of its own); once reads stop, at the interval alone.
        const std::int64_t read = 1000000, margin = PulseCapture::kArrivalMarginUs;
        QCOMPARE(PulseCapture::nextLevelReportUs(read, kChunkUs, read, kReadUs), read + kChunkUs);
        QCOMPARE(PulseCapture::nextLevelReportUs(read + kChunkUs, kChunkUs, read, kReadUs), read + kReadUs + margin);
        QCOMPARE(PulseCapture::nextLevelReportUs(read + kReadUs + margin, kChunkUs, read, kReadUs),
                 read + kReadUs + margin + kChunkUs);
        QCOMPARE(PulseCapture::nextLevelReportUs(read, 2 * kReadUs, read, kReadUs), read + 2 * kReadUs + margin);
        QCOMPARE(PulseCapture::nextLevelReportUs(read, kChunkUs, -1, kReadUs), read + kChunkUs);
        // While another program records the device at a short latency, the server delivers in
        // halves of a read (or smaller pieces): each delivery brings the report due with it.
        QCOMPARE(PulseCapture::nextLevelReportUs(read, kChunkUs, read, kChunkUs), read + kChunkUs + margin);
        QCOMPARE(PulseCapture::nextLevelReportUs(read, kChunkUs, read, kChunkUs / 2), read + kChunkUs + margin);
    }

    // Two reads delivered at once still come due a chunk apart.
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

    // A rare reader gets the loudest chunk; a chunk split over two reads; -32768 is full scale.
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

    // Bad buffers; a reset forgets all; a queue nobody reads stays bounded.
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

    // A peak of 0..32768 as the level 0..255 of the local user, voice from 8.
    void levelOfAPeak()
    {
        for (const QList<int>& row :
             QList<QList<int>>{{0, 0, 0}, {963, 7, 0}, {964, 8, 1}, {16384, 128, 1}, {32768, 255, 1}}) {
            const auto level = LocalAudioCapture::levelOf(row[0]);
            QCOMPARE(QList<int>({int(level.uid), int(level.volume), int(level.vad)}),
                     QList<int>({0, row[1], row[2]}));
        }
    }

    // Silence keeps pace at 48 kHz, a second at most: (elapsed ms, frames sent) -> frames due.
    void silenceFramesDue()
    {
        for (const QList<qint64>& row : QList<QList<qint64>>{
                 {40, 0, 1920}, {80, 1920, 1920}, {80, 3840, 0}, {80, 5000, 0}, {5000, 0, 48000}})
            QCOMPARE(LocalAudioCapture::silenceFramesDue(row[0], uint64_t(row[1])), uint64_t(row[2]));
    }

    // The chosen device must return itself; with none chosen, the lost one or any default does.
    void wantedDeviceIsBack()
    {
        const QList<GstAudioDevices::Device> usb = {{"Built-in", "builtin", false}, {"USB", "usb", false}};
        const QList<GstAudioDevices::Device> newDefault = {{"Built-in", "builtin", true},
                                                           {"USB", "usb", false}};
        QVERIFY(LocalAudioCapture::isBack(usb, "usb", "usb"));
        QVERIFY(!LocalAudioCapture::isBack(usb, "gone", "gone"));
        QVERIFY(!LocalAudioCapture::isBack(usb, "gone", "usb")); // the lost one does not count
        QVERIFY(!LocalAudioCapture::isBack(usb, "", "gone"));
        QVERIFY(LocalAudioCapture::isBack(usb, "", "usb"));
        QVERIFY(LocalAudioCapture::isBack(newDefault, "", "gone"));
        QVERIFY(!LocalAudioCapture::isBack(newDefault, "gone", "gone"));
    }
};

QTEST_GUILESS_MAIN(tst_LocalAudioCapture)
#include "tst_LocalAudioCapture.moc"
