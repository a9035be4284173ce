#!/usr/bin/env bash
# How fast and how cheap the push is, driven as a user drives it: the real program on a private
# X display with the local services, nginx-rtmp and PulseAudio playing a tone. It clicks
# "开始推流" and "结束直播" five times each and prints
#   - click to the first raw AAC frame in nginx's recording (median, min, max),
#   - click on "结束直播" to the panel back in state 2 (the log line written just before),
#   - capture to server latency: a click played into the capture device to the arrival of its
#     AAC frame at nginx (click-latency.py), against the ffmpeg command line in the same run,
#   - CPU of the program (share of one core) and its memory: panel shown and not pushing (the
#     device test runs), panel minimised, and while pushing; shown and pushing once more with a
#     sound of changing loudness, which makes the meter move all the time; the ffmpeg command
#     line pushing the same tone to the same server, measured the same way, and the ratio.
# Not a test: it prints figures.
#   tools/bench-push/bench-push.sh [build-dir]
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
export TAVIO_BUILD_DIR="${1:-${TAVIO_BUILD_DIR:-build}}"
cd "$root"
source scripts/assistant.sh

[ "${TAVIO_SKIP_BUILD:-0}" = 1 ] || assistant_build
cmake --build "$root/$TAVIO_BUILD_DIR" --target tavio-bench-watch -j2 >/dev/null
watch="$root/$TAVIO_BUILD_DIR/tavio-bench-watch"

work="$root/out/bench-push"
rm -rf "$work"
mkdir -p "$work"

assistant_start_headless "$work"

push_x=190 # the push button; with the mute button shown its centre moves right
push_y=416
stop_x=251
room=8801
recording="$TAVIO_RTMP_RECORD_DIR/$room.flv"
applog="$work/log/valog_$(date +%Y-%m-%d).txt"

# cpu_over SECONDS [PID]: the CPU of the program (or of PID) over that many seconds, in percent
# of one core, and its resident memory in MiB at the end. The scheduler's nanoseconds per thread
# (the tick counts of /proc/PID/stat would be good to a third of a percent of the figure only);
# threads that start or end inside the window are left out, which the windows here avoid.
cpu_over() {
    local seconds="$1" pid="${2:-$ASSISTANT_PID}" a b
    thread_ns() { for t in "/proc/$pid/task"/*; do echo "${t##*/} $(cut -d' ' -f1 "$t/schedstat")"; done | sort; }
    a="$(thread_ns)"
    sleep "$seconds"
    b="$(thread_ns)"
    join <(echo "$a") <(echo "$b") | awk -v s="$seconds" \
        -v rss="$(awk '/^VmRSS/ {print $2}' "/proc/$pid/status")" \
        '{ ns += $3 - $2 } END { printf "%.2f %% of a core, %.0f MiB", 100 * ns / 1e9 / s, rss / 1024 }'
}

# stats: median, min and max of the numbers on stdin.
stats() {
    sort -n | awk '{ v[NR] = $1 } END {
        if (NR == 0) { print "no values"; exit }
        printf "median %d ms (min %d, max %d, n %d)", v[int((NR + 1) / 2)], v[1], v[NR], NR }'
}

login="$(assistant_wait_window 332)"
sleep 1
assistant_log_in "$login" 10001 123456
panel="$(assistant_wait_window 472)"
assistant_admin room userId=10001 roomId="$room" >/dev/null
assistant_admin mic userId=10001 on=1 >/dev/null
assistant_click "$panel" "$push_x" "$push_y" # enter the room: state 2
sleep 3

idle_shown="$(cpu_over 30)"

starts=()
stops=()
pushing=""
for i in 1 2 3 4 5; do
    rm -f "$recording"
    ms="$("$watch" flv "$recording" 10000 -- xdotool mousemove --window "$panel" "$push_x" "$push_y" click 1 || true)"
    starts+=("$ms")
    echo "push $i: click to first recorded AAC frame: $ms ms"
    if [ "$i" = 1 ]; then
        sleep 2
        pushing="$(cpu_over 30)"
    else
        sleep 3
    fi
    ms="$("$watch" text "$applog" "removePublishStreamUrl" 10000 -- xdotool mousemove --window "$panel" "$stop_x" "$push_y" click 1 || true)"
    stops+=("$ms")
    echo "push $i: click to state 2: $ms ms"
    sleep 2
done

# The reference: the ffmpeg command line pushing the same device to the same server, measured
# the same way while the program waits in state 2.
ffmpeg -nostdin -v quiet -f pulse -sample_rate 48000 -channels 2 -i "${TAVIO_PULSE_SOURCE:-default}" \
    -ac 2 -ar 48000 -c:a aac -b:a 128k -f flv "$TAVIO_RTMP_URL_BASE/ffmpeg_cpu" &
ffmpeg_pid=$!
echo "$ffmpeg_pid" > "$TAVIO_PEERS_DIR/ffmpeg.pid"
sleep 3
ffmpeg_pushing="$(cpu_over 30 "$ffmpeg_pid")"
kill "$ffmpeg_pid" && rm -f "$TAVIO_PEERS_DIR/ffmpeg.pid"
sleep 2

# Capture to server: a click played into the capture device, its onset in what nginx recorded,
# for the program and, in the same run from the same device, the ffmpeg command line.
latency="no private sound server: not measured"
if [ -n "${TAVIO_PULSE_SINK:-}" ] && [ -e "$TAVIO_PEERS_DIR/tone.pid" ]; then
    kill "$(cat "$TAVIO_PEERS_DIR/tone.pid")"
    rm -f "$TAVIO_PEERS_DIR/tone.pid" "$recording" "$TAVIO_RTMP_RECORD_DIR/ffmpeg.flv"
    ffmpeg -nostdin -v quiet -f pulse -sample_rate 48000 -channels 2 -i "$TAVIO_PULSE_SOURCE" \
        -ac 2 -ar 48000 -c:a aac -b:a 128k -f flv "$TAVIO_RTMP_URL_BASE/ffmpeg" &
    echo $! > "$TAVIO_PEERS_DIR/ffmpeg.pid"
    xdotool mousemove --window "$panel" "$push_x" "$push_y" click 1
    sleep 3
    latency="$(python3 "$root/tools/bench-push/click-latency.py" --sink "$TAVIO_PULSE_SINK" --clicks 5 \
        program="$recording" ffmpeg="$TAVIO_RTMP_RECORD_DIR/ffmpeg.flv")"
    echo "$latency"
    xdotool mousemove --window "$panel" "$stop_x" "$push_y" click 1
    kill "$(cat "$TAVIO_PEERS_DIR/ffmpeg.pid")" && rm -f "$TAVIO_PEERS_DIR/ffmpeg.pid"
    sleep 2
fi

# The tone's level is steady, so the meter hardly moves. A voice moves it at every report: the
# same figures with pink noise whose loudness swings four times a second mixed in.
varying="$work/varying.wav"
sox -n -r 48000 -c 2 -b 16 "$varying" synth 30 pinknoise tremolo 4 90 vol 0.3
peers_play_loop "$varying" varying
sleep 2
idle_varying="$(cpu_over 30)"
xdotool mousemove --window "$panel" "$push_x" "$push_y" click 1
sleep 3
pushing_varying="$(cpu_over 30)"
xdotool mousemove --window "$panel" "$stop_x" "$push_y" click 1
kill "$(cat "$TAVIO_PEERS_DIR/varying.pid")"
sleep 2

# Last, as nothing brings the panel back without a window manager: its own minimise button.
assistant_click "$panel" 330 22
sleep 2
idle_minimised="$(cpu_over 30)"

echo
echo "click on 开始推流 to the first raw AAC frame recorded by nginx: $(printf '%s\n' "${starts[@]}" | grep -E '^[0-9]+$' | stats)"
echo "click on 结束直播 to the panel in state 2:                  $(printf '%s\n' "${stops[@]}" | grep -E '^[0-9]+$' | stats)"
echo "CPU, panel shown, not pushing (device test on): $idle_shown (tone), $idle_varying (varying sound)"
echo "CPU, panel minimised (device test off):         $idle_minimised"
grep -c "RecordingDeviceTest" "$applog" | sed 's/^/device test started or stopped (log lines): /'
echo "$latency" | grep median | sed 's/^/click at the capture device to the server, /'
echo "CPU, pushing:                                   $pushing (tone), $pushing_varying (varying sound)"
echo "CPU, the ffmpeg command line pushing the tone:   $ffmpeg_pushing"
awk -v p="${pushing%% *}" -v f="${ffmpeg_pushing%% *}" \
    'BEGIN { if (f > 0) printf "CPU pushing, program / ffmpeg (tone):           %.2f\n", p / f }'
echo "assistant log: $applog"
