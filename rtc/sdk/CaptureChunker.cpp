#include "rtc/sdk/CaptureChunker.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace agora {
namespace rtc {

namespace {
constexpr std::int32_t kUnityGain = 65536;
// The volume a caller may ask for is far below this; it only keeps the product in range.
constexpr double kMaxVolume = 16.0;
} // namespace

CaptureChunker::CaptureChunker(std::size_t samplesPerRead) : m_read(std::max<std::size_t>(samplesPerRead, 1))
{
}

void CaptureChunker::setVolume(double volume)
{
    if (!(volume > 0.0)) // also NaN
        volume = 0.0;
    m_gain = static_cast<std::int32_t>(std::lround(std::min(volume, kMaxVolume) * kUnityGain));
}

void CaptureChunker::setMuted(bool muted)
{
    m_muted = muted;
}

void CaptureChunker::reset()
{
    m_filled = 0;
    m_hasHalf = false;
}

void CaptureChunker::append(const void* data, std::size_t bytes,
                            const std::function<void(const std::int16_t*, std::size_t)>& ready)
{
    const auto* in = static_cast<const std::uint8_t*>(data);
    const std::int32_t gain = m_muted.load() ? 0 : m_gain.load();
    const auto scale = [gain](std::int16_t sample) {
        const std::int64_t product = static_cast<std::int64_t>(sample) * gain / kUnityGain;
        return static_cast<std::int16_t>(std::clamp<std::int64_t>(product, INT16_MIN, INT16_MAX));
    };
    const auto filled = [&] {
        if (m_filled == m_read.size()) {
            m_filled = 0;
            ready(m_read.data(), m_read.size());
        }
    };
    std::size_t at = 0;
    if (m_hasHalf && bytes > 0) {
        // Samples are little-endian, as the capture asks the server for.
        const std::uint8_t high = in ? in[0] : 0;
        const auto sample = static_cast<std::int16_t>(static_cast<std::uint16_t>(m_halfSample | (high << 8)));
        m_read[m_filled++] = gain == kUnityGain ? sample : scale(sample);
        m_hasHalf = false;
        at = 1;
        filled();
    }
    while (bytes - at >= 2) {
        const std::size_t count = std::min(m_read.size() - m_filled, (bytes - at) / 2);
        std::int16_t* out = m_read.data() + m_filled;
        if (in)
            std::memcpy(out, in + at, count * 2);
        else
            std::memset(out, 0, count * 2);
        if (gain != kUnityGain) {
            for (std::size_t i = 0; i < count; ++i)
                out[i] = scale(out[i]);
        }
        m_filled += count;
        at += count * 2;
        filled();
    }
    if (at < bytes) {
        m_halfSample = in ? in[at] : 0;
        m_hasHalf = true;
    }
}

} // namespace rtc
} // namespace agora
