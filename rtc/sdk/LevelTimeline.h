#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>

namespace agora {
namespace rtc {

// The captured level in steps of kChunkUs, handed out at the pace the sound was captured.
// The capture reads the device in large buffers (few wake-ups); each buffer is cut into chunks
// whose peaks come due one after the other over the following read, so a reader that asks every
// chunk's length sees every chunk in turn instead of one value per read and a repeat. A reader
// that asks less often gets the highest of the chunks due; one that asks between two due chunks
// gets the last value again while the capture is fresh, never a false silence.
// add() on the capture's thread, take() on one reader's thread.
class LevelTimeline
{
public:
    // Twenty levels a second.
    static constexpr std::int64_t kChunkUs = 50000;

    LevelTimeline(int sampleRate, int channels);

    // Interleaved 16-bit samples of one buffer that arrived at arrivalUs (a monotonic time);
    // readUs is the length of one read, after which the capture counts as stalled twice over.
    // An incomplete last frame is ignored; a chunk that the buffer leaves unfinished is
    // completed by the next one.
    void add(const std::int16_t* samples, std::size_t sampleCount, std::int64_t arrivalUs,
             std::int64_t readUs);
    // The highest absolute sample (0..32768) of the chunks due at nowUs; see the class comment
    // for the in-between answers. 0 once the capture has delivered nothing for two reads.
    int take(std::int64_t nowUs);
    // Forgets everything (a new capture).
    void reset();

private:
    struct Chunk
    {
        std::int64_t dueUs = 0;
        int peak = 0;
    };
    // Enough for a reader that asks once a second at 50 ms chunks.
    static constexpr std::size_t kMaxChunks = 64;
    // A timer fires a little early or late; a chunk this close to due counts as due.
    static constexpr std::int64_t kDueSlackUs = 10000;

    const int m_sampleRate;
    const int m_channels;
    const std::size_t m_chunkFrames;
    std::mutex m_mutex;
    std::deque<Chunk> m_chunks;
    std::size_t m_partialFrames = 0;
    int m_partialPeak = 0;
    std::int64_t m_lastArrivalUs = 0;
    std::int64_t m_readUs = 0;
    bool m_any = false;
    int m_held = 0;
    std::int64_t m_lastDueUs = 0;
    bool m_hasDue = false;
};

} // namespace rtc
} // namespace agora
