#!/usr/bin/env bash
# Builds the assistant and runs it against the local services in its own working folder
# ("out/run"), with a local RTMP server to push to and a sound source to record from.
# Without a display it runs under Xvfb, logs in with the demo account and saves a screenshot
# of each window into out/run/screenshots, then stops (TAVIO_KEEP_RUNNING=1 keeps it running).
# Everything it starts is stopped by process id when the assistant exits.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
source scripts/assistant.sh

[ "${TAVIO_SKIP_BUILD:-0}" = 1 ] || assistant_build

work="$root/out/run"
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

if [ "$headless" = 1 ]; then
    shots="$work/screenshots"
    login="$(assistant_wait_window 332)"
    assistant_shot "$login" "$shots/login.png"
    assistant_log_in "$login" 10001 123456
    panel="$(assistant_wait_window 472)"
    sleep 1
    assistant_shot "$panel" "$shots/panel.png"
    if [ "${TAVIO_KEEP_RUNNING:-0}" != 1 ]; then
        kill "$ASSISTANT_PID" 2>/dev/null || true
    fi
fi

status=0
wait "$ASSISTANT_PID" || status=$?
echo "the assistant ended (exit status $status)"
exit "$status"
