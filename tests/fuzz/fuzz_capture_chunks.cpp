// What the sound server hands the capture: pieces of any length and holes, under changing
// volume and mute. Every byte must land in exactly one read, nothing outside the read.
#include "rtc/sdk/CaptureChunker.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const std::size_t readSamples = 1 + data[0] % 64;
    agora::rtc::CaptureChunker chunker(readSamples);
    std::size_t delivered = 0, appended = 0;
    const auto ready = [&](const std::int16_t* samples, std::size_t count) {
        if (count != readSamples)
            std::abort();
        volatile std::int16_t touch = 0;
        for (std::size_t i = 0; i < count; ++i)
            touch = static_cast<std::int16_t>(touch ^ samples[i]);
        delivered += count;
    };
    // Each piece: a control byte (length, hole, volume, mute), then its bytes.
    std::size_t at = 1;
    while (at < size) {
        const uint8_t control = data[at++];
        const std::size_t length = std::min<std::size_t>(control % 32, size - at);
        switch (control >> 5) {
        case 0:
            chunker.append(nullptr, length, ready);
            appended += length;
            break;
        case 1:
            chunker.setVolume((control & 31) / 4.0);
            break;
        case 2:
            chunker.setMuted(control & 1);
            break;
        default:
            chunker.append(data + at, length, ready);
            appended += length;
            at += length;
            break;
        }
    }
    if (delivered != appended / 2 / readSamples * readSamples)
        std::abort();
    return 0;
}
