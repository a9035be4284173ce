#include "workflow/ServiceCodeReactions.h"

#include "workflow/PanelState.h"

const ServiceCodeReactions::Reaction* ServiceCodeReactions::find(int code, int state, bool& known)
{
    // The ban code bans the microphone in a session; every other listed code ends a ban, also
    // in the states where it has nothing else to do.
    static const Reaction reactions[] = {
        {kRelogin, inSession, exits, noFallBack},
        {kReloginOther, inSession, exits, noFallBack},
        {kLeftRoom, PanelStatePushing, endsPush | leavesRoom, PanelStateEnterRoom},
        {kLeftRoom, PanelStateStartPush, leavesRoom, PanelStateEnterRoom},
        {kLeftMic, PanelStatePushing, endsPush, PanelStateStartPush},
        {kMicBanned, PanelStatePushing, mutesForBan, noFallBack},
        {kMicBanned, inSession, 0, noFallBack},
    };
    known = false;
    for (const Reaction& row : reactions) {
        known = known || row.code == code;
        const bool inRowState = row.state == state || (row.state == inSession && state != PanelStateIdle);
        if (row.code == code && inRowState)
            return &row;
    }
    return nullptr;
}
