#!/usr/bin/env bash
# Builds the assistant and runs it against the local services in its own working folder
# ("out/run"), with a local RTMP server to push to and a sound source to record from.
# Without a display it runs under Xvfb and shows the main job: logs in with the demo account,
# enters the room, pushes for about 5 s, ends the push, saves screenshots of the login window and
# panel states 1 to 3 into out/run/screenshots and reports what the RTMP server recorded; it
# exits 0 only when the audio arrived (TAVIO_KEEP_RUNNING=1 instead keeps the assistant running
# once logged in). Everything it starts is stopped by process id when it ends.
# TAVIO_RUN_DIR moves the working folder elsewhere (the tests use a scratch folder).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
source scripts/assistant.sh

[ "${TAVIO_SKIP_BUILD:-0}" = 1 ] || assistant_build

work="${TAVIO_RUN_DIR:-$root/out/run}"
mkdir -p "$work"
peers_start_for_run
trap assistant_stop_all EXIT

assistant_start_services "$work"
assistant_prepare_workdir "$work"
echo "local services:   $TAVIO_SERVICES_URL (control page: ${TAVIO_SERVICES_URL}admin)"
echo "RTMP server:      ${TAVIO_RTMP_URL_BASE:-not running}"
echo "RTMP recordings:  ${TAVIO_RTMP_RECORD_DIR:-none}"
echo "working folder:   $work (log in $work/log)"
echo "demo account:     user ID 10001, password 123456"

headless=0
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    headless=1
    assistant_start_display
    echo "no display: running under Xvfb on $DISPLAY"
fi

assistant_launch "$work"

status=0
if [ "$headless" = 1 ]; then
    shots="$work/screenshots"
    rm -f "$shots"/*.png
    login="$(assistant_wait_window 332)"
    sleep 1
    assistant_shot "$login" "$shots/login.png"
    assistant_log_in "$login" 10001 123456
    panel="$(assistant_wait_window 472)"
    sleep 1
    assistant_shot "$panel" "$shots/panel-state1.png"
    if [ "${TAVIO_KEEP_RUNNING:-0}" = 1 ]; then
        wait "$ASSISTANT_PID" || status=$?
        echo "the assistant ended (exit status $status)"
        exit "$status"
    fi

    # The demo account sits on a microphone in room 8001: enter it, push, end the push.
    assistant_press_push "$panel"
    sleep 1.5
    assistant_shot "$panel" "$shots/panel-state2.png"
    assistant_press_push "$panel"
    pushed=0
    if assistant_wait_live 10001 true; then
        pushed=1
        sleep 1
        assistant_shot "$panel" "$shots/panel-state3.png"
        echo "pushing for 5 s..."
        sleep 5
        assistant_press_push "$panel"
        assistant_wait_live 10001 false || true
    fi
    assistant_stop
    wait "$ASSISTANT_PID" 2>/dev/null || true
    # The peers' folder goes with them: keep the recording beside the screenshots.
    recording="$work/recording-8001.flv"
    rm -f "$recording"
    [ -z "${TAVIO_RTMP_RECORD_DIR:-}" ] || cp "$TAVIO_RTMP_RECORD_DIR/8001.flv" "$recording" 2>/dev/null || true
    peers_stop
    echo "assistant log:    $work/log"
    if [ "$pushed" = 1 ] && assistant_report_recording "$recording"; then
        exit 0
    fi
    echo "the pushed audio did not arrive at the RTMP server" >&2
    exit 1
fi

wait "$ASSISTANT_PID" || status=$?
echo "the assistant ended (exit status $status)"
exit "$status"
