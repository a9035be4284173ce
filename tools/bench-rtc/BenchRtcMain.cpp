// Pushes the default capture device to an RTMP address through our SDK layer for a while,
// exactly as the assistant does (join, publish, leave), for the CPU and memory comparison.
//   tavio-bench-rtc <rtmp-url> <seconds>
#include "rtc/sdk/IRtcEngine.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

class BenchHandler : public agora::rtc::IRtcEngineEventHandler
{
public:
    void onRtmpStreamingStateChanged(const char* url, int state, int code) override
    {
        std::fprintf(stderr, "relay %s: state %d, code %d\n", url, state, code);
        if (state == agora::rtc::kRtmpStateFailure)
            failed = true;
    }
    void onRtcStats(const agora::rtc::RtcStats& stats) override { sentBytes = stats.txBytes; }

    std::atomic<bool> failed{false};
    std::atomic<unsigned int> sentBytes{0};
};

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <rtmp-url> <seconds>\n", argv[0]);
        return 2;
    }
    const std::string url = argv[1];
    const int seconds = std::atoi(argv[2]);

    BenchHandler handler;
    agora::rtc::IRtcEngine* engine = createAgoraRtcEngine();
    agora::rtc::RtcEngineContext context;
    context.eventHandler = &handler;
    context.appId = "bench";
    int result = engine->initialize(context);
    if (result == 0)
        result = engine->joinChannel("", "bench", nullptr, 1);
    if (result == 0)
        result = engine->addPublishStreamUrl(url.c_str(), false);
    if (result != 0) {
        std::fprintf(stderr, "start failed: %d\n", result);
        agora::rtc::IRtcEngine::release(true);
        return 1;
    }
    for (int i = 0; i < seconds * 10 && !handler.failed; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    engine->removePublishStreamUrl(url.c_str());
    engine->leaveChannel();
    agora::rtc::IRtcEngine::release(true);
    std::fprintf(stderr, "sent %u bytes\n", handler.sentBytes.load());
    return handler.failed ? 1 : 0;
}
