#pragma once

// The push-stream service's codes that the workflow reacts to, and what a heartbeat's code does
// in each state: the steps in order, then the state to fall back to with the service's message.
class ServiceCodeReactions
{
public:
    static constexpr int kMicBanned = 3163;
    static constexpr int kRelogin = 3190;
    static constexpr int kReloginOther = 3191;
    static constexpr int kLeftRoom = 3192;
    static constexpr int kLeftMic = 3193;
    static constexpr int kPushRefused = 3194;

    enum Step : unsigned
    {
        exits = 1,
        endsPush = 2,
        leavesRoom = 4,
        mutesForBan = 8
    };
    struct Reaction
    {
        int code;
        int state;      // inSession: any state but idle
        unsigned steps; // Step flags
        int fallBack;   // noFallBack: stays
    };
    static constexpr int inSession = -1;
    static constexpr int noFallBack = 0;

    // The first row for code in state; null when the code does nothing there. known tells
    // whether the workflow knows the code at all.
    static const Reaction* find(int code, int state, bool& known);
    static bool isRelogin(int code) { return code == kRelogin || code == kReloginOther; }
};
