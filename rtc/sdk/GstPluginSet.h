#pragma once

#include <QString>

namespace agora {
namespace rtc {

// Starts GStreamer with only the plugins the SDK uses. Left to itself GStreamer reads the
// registry of every installed plugin (about 2 MB of memory on a desktop with the usual plugin
// packages) and its device monitor loads every device provider it finds (capture cards, other
// sound systems). When all of ours are where this build found GStreamer's plugins, and the user
// has not pointed GStreamer elsewhere, only ours are loaded; otherwise GStreamer starts as usual.
class GstPluginSet
{
public:
    // Initializes GStreamer once per process, from any thread; false when it cannot start.
    static bool initialize();
    // The above and what the debug recording needs besides; empty on success, else the reason.
    static QString initializeRecording();
    // How it went, for the SDK log (initializes first if need be).
    static QString description();
};

} // namespace rtc
} // namespace agora
