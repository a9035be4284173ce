#include "rtc/sdk/LevelTimeline.h"

#include <algorithm>
#include <cstdlib>

namespace agora {
namespace rtc {

LevelTimeline::LevelTimeline(int sampleRate, int channels)
    : m_sampleRate(std::max(sampleRate, 1)), m_channels(std::max(channels, 1)),
      m_chunkFrames(std::max<std::size_t>(1, static_cast<std::size_t>(m_sampleRate * kChunkUs / 1000000)))
{
}

void LevelTimeline::add(const std::int16_t* samples, std::size_t sampleCount, std::int64_t arrivalUs,
                        std::int64_t readUs)
{
    const std::size_t channels = static_cast<std::size_t>(m_channels);
    const std::size_t frames = samples ? sampleCount / channels : 0;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lastArrivalUs = arrivalUs;
    m_readUs = readUs;
    m_any = true;
    std::size_t frame = 0;
    while (frame < frames) {
        const std::size_t step = std::min(m_chunkFrames - m_partialFrames, frames - frame);
        const std::int16_t* first = samples + frame * channels;
        for (std::size_t i = 0; i < step * channels; ++i)
            m_partialPeak = std::max(m_partialPeak, std::abs(static_cast<int>(first[i])));
        frame += step;
        m_partialFrames += step;
        if (m_partialFrames < m_chunkFrames)
            break;
        // A chunk that ends at this frame of the buffer comes due that long after the buffer
        // arrived, less one chunk: the first full chunk at once, the next a chunk later. The
        // sound server sometimes delivers two reads at once: their chunks then queue up a chunk
        // apart behind the ones before, but never more than two reads behind (the device's
        // clock may run a little fast).
        const std::int64_t endUs = static_cast<std::int64_t>(frame) * 1000000 / m_sampleRate;
        std::int64_t dueUs = arrivalUs + std::max<std::int64_t>(0, endUs - kChunkUs);
        if (m_hasDue)
            dueUs = std::max(dueUs, std::min(m_lastDueUs + kChunkUs, arrivalUs + 2 * readUs));
        m_lastDueUs = dueUs;
        m_hasDue = true;
        m_chunks.push_back({dueUs, m_partialPeak});
        if (m_chunks.size() > kMaxChunks)
            m_chunks.pop_front();
        m_partialFrames = 0;
        m_partialPeak = 0;
    }
}

int LevelTimeline::take(std::int64_t nowUs)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    int peak = -1;
    while (!m_chunks.empty() && m_chunks.front().dueUs <= nowUs + kDueSlackUs) {
        peak = std::max(peak, m_chunks.front().peak);
        m_chunks.pop_front();
    }
    if (peak >= 0) {
        m_held = peak;
        return peak;
    }
    if (m_any && nowUs - m_lastArrivalUs <= 2 * m_readUs)
        return m_held;
    m_held = 0; // stalled: what came before is no longer the level
    return 0;
}

void LevelTimeline::reset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_chunks.clear();
    m_partialFrames = 0;
    m_partialPeak = 0;
    m_lastArrivalUs = 0;
    m_readUs = 0;
    m_any = false;
    m_held = 0;
    m_lastDueUs = 0;
    m_hasDue = false;
}

} // namespace rtc
} // namespace agora
