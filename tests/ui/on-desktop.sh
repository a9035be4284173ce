#!/usr/bin/env bash
# Runs a test program on a private desktop: an X server (Xvfb), a notification daemon (dunst) on a
# private D-Bus session bus, and a tray host (trayer). Everything it starts is stopped by process
# id. A missing desktop program skips the test (exit 77) unless TAVIO_REQUIRE_PEERS=1.
#   on-desktop.sh TEST-PROGRAM [ARGUMENTS...]
set -u
source "$(dirname "$0")/../support/checks.sh"
trap '_checks_end' EXIT

for tool in Xvfb dbus-daemon dunst trayer xdotool; do
    if ! command -v "$tool" >/dev/null; then
        echo "on-desktop: $tool is missing (scripts/setup.sh installs it)"
        [ "${TAVIO_REQUIRE_PEERS:-0}" = 1 ] && exit 1
        exit 77
    fi
done

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$SCRATCH/display" 2>"$SCRATCH/xvfb.log" &
at_end "kill $!"
wait_until test -s "$SCRATCH/display" || { echo "on-desktop: Xvfb did not start"; exit 1; }
export DISPLAY=":$(head -1 "$SCRATCH/display")"

dbus-daemon --session --nofork --nopidfile --print-address=3 3>"$SCRATCH/bus" 2>"$SCRATCH/bus.log" &
at_end "kill $!"
wait_until test -s "$SCRATCH/bus" || { echo "on-desktop: no session bus"; exit 1; }
export DBUS_SESSION_BUS_ADDRESS="$(head -1 "$SCRATCH/bus")"

# Every notification stays on screen (in dunst's list) until the test reads them.
cat >"$SCRATCH/dunstrc" <<'EOF_DUNST'
[global]
    stack_duplicates = false
    idle_threshold = 0
    history_length = 100
[urgency_low]
    timeout = 0
[urgency_normal]
    timeout = 0
EOF_DUNST
dunst -config "$SCRATCH/dunstrc" >"$SCRATCH/dunst.log" 2>&1 &
at_end "kill $!"
wait_until dbus-send --session --print-reply --dest=org.freedesktop.Notifications \
    /org/freedesktop/Notifications org.freedesktop.Notifications.GetServerInformation >/dev/null ||
    { echo "on-desktop: dunst did not start"; cat "$SCRATCH/dunst.log"; exit 1; }

trayer --edge top --align right --widthtype request --height 24 --SetDockType true >"$SCRATCH/trayer.log" 2>&1 &
at_end "kill $!"
wait_until bash -c 'xprop -root _NET_SUPPORTED >/dev/null; xdotool search --classname trayer >/dev/null' ||
    { echo "on-desktop: trayer did not start"; exit 1; }

QT_QPA_PLATFORM=xcb TAVIO_DESKTOP_PEERS=1 "$@"
