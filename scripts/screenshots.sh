#!/usr/bin/env bash
# Takes the screenshots of the README from the real program on a private X server: the login
# window and the voice panel in states 1 (logged in), 2 (room confirmed), 3 (pushing) and with
# the microphone banned by the room. The phone side is played through the local services'
# admin API. Writes docs/*.png.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
source scripts/assistant.sh

[ "${TAVIO_SKIP_BUILD:-0}" = 1 ] || assistant_build

work="$root/out/screenshots"
rm -rf "$work"
mkdir -p "$work"
docs="$root/docs"
mkdir -p "$docs"

assistant_start_headless "$work"

login="$(assistant_wait_window 332)"
sleep 1
assistant_shot "$login" "$docs/login.png"

assistant_log_in "$login" 10001 123456
panel="$(assistant_wait_window 472)"
sleep 1.5
assistant_shot "$panel" "$docs/panel-state1.png"

assistant_admin room userId=10001 roomId=8801
assistant_press_push "$panel"
sleep 1.5
assistant_shot "$panel" "$docs/panel-state2.png"

assistant_admin mic userId=10001 on=1
assistant_press_push "$panel"
sleep 2.5
assistant_shot "$panel" "$docs/panel-state3.png"
if [ -n "${TAVIO_RTMP_URL_BASE:-}" ]; then
    echo "stream arriving at the RTMP server:"
    timeout 15 ffprobe -v error -show_entries stream=codec_name,sample_rate,channels -of compact \
        "$TAVIO_RTMP_URL_BASE/8801" || echo "(no stream)"
fi

# The room bans the microphone: the next heartbeats mute the assistant and show "禁麦中".
assistant_admin ban userId=10001 banned=1
sleep 5
assistant_shot "$panel" "$docs/panel-banned.png"

kill "$ASSISTANT_PID" 2>/dev/null || true
wait "$ASSISTANT_PID" || true
echo "assistant log: $work/log"
