#pragma once

// Where the voice panel stands in the room and push workflow. Kept as plain ints because the
// panel stores the state as an int and must also cope with values it does not know.
enum PanelState : int
{
    PanelStateIdle = 0,      // before the first login, or after leaving
    PanelStateEnterRoom = 1, // logged in, room not yet confirmed
    PanelStateStartPush = 2, // room confirmed, not pushing
    PanelStatePushing = 3,   // pushing into the room
};
