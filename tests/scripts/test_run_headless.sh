#!/bin/bash
# The run command without a display, end to end: it must log in, push, end the push, report
# what the RTMP server recorded, save the four screenshots, and exit 0 only with audio.
# Usage: test_run_headless.sh <build dir>
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/../support/checks.sh"
work="$SCRATCH/run"

env -u DISPLAY -u WAYLAND_DISPLAY TAVIO_SKIP_BUILD=1 TAVIO_BUILD_DIR="$1" TAVIO_RUN_DIR="$work" \
    bash "$here/../../scripts/run.sh" >"$SCRATCH/out" 2>&1
status=$?
cat "$SCRATCH/out"
check "exit status 0" [ "$status" = 0 ]
check "verdict: audio arrived" contains "$SCRATCH/out" "audio arrived"
check "reports the stream" contains "$SCRATCH/out" "codec aac, 48000 Hz, 2 channels"
seconds="$(sed -n 's/.* channels, \([0-9.]*\) s of audio/\1/p' "$SCRATCH/out")"
check "about 5 s of audio (got ${seconds:-none})" python3 -c "import sys; sys.exit(not 3.5 <= float('${seconds:-0}') <= 8)"
for shot in login panel-state1 panel-state2 panel-state3; do
    check "screenshot $shot" test -s "$work/screenshots/$shot.png"
done
check "the recording is kept beside the screenshots" test -s "$work/recording-8001.flv"
records="$(sed -n 's/^RTMP recordings: *//p' "$SCRATCH/out")"
check "the peers' scratch folder is gone (${records:-none})" bash -c "[[ '$records' = /tmp/tavio-peers.*/* ]] && [ ! -e '${records%%/nginx/*}' ]"
check "the assistant logged in its working folder" bash -c "grep -q 'main start' '$work'/log/valog_*.txt"
finish_checks
