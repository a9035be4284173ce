#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace agora {
namespace rtc {

// Gathers what the sound server hands over (pieces of any size, holes) into reads of one fixed
// length of interleaved 16-bit samples, with the volume and the mute applied on the way. A
// hole is silence; a piece that ends inside a sample is completed by the next one.
// append() on the capture's thread; the volume and the mute from any thread.
class CaptureChunker
{
public:
    explicit CaptureChunker(std::size_t samplesPerRead);

    // 1.0 leaves the samples as they are; more amplifies (the result saturates), 0 silences.
    void setVolume(double volume);
    // Silence while muted; the reads keep coming.
    void setMuted(bool muted);

    // data null: a hole of the given length. Calls ready for each read completed.
    void append(const void* data, std::size_t bytes,
                const std::function<void(const std::int16_t* samples, std::size_t count)>& ready);
    // Forgets a read begun (a new capture).
    void reset();

private:
    std::vector<std::int16_t> m_read;
    std::size_t m_filled = 0;
    std::uint8_t m_halfSample = 0;
    bool m_hasHalf = false;
    // Volume in 1/65536 steps; 65536 is unity.
    std::atomic<std::int32_t> m_gain{65536};
    std::atomic<bool> m_muted{false};
};

} // namespace rtc
} // namespace agora
