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
#     line pushing the same tone to the same server alongside the program, measured over the
#     same windows, and the ratio.
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

# thread_ns PID: "tid nanoseconds" per thread, from the scheduler (the tick counts of
# /proc/PID/stat would be good to a third of a percent of the figures only).
thread_ns() {
    local t
    for t in "/proc/$1/task"/*; do echo "${t##*/} $(cut -d' ' -f1 "$t/schedstat")"; done | sort
}

# busy_ns BEFORE AFTER: nanoseconds run between two thread_ns samples; threads that start or end
# in between are left out, which the windows here avoid.
busy_ns() {
    join <(echo "$1") <(echo "$2") | awk '{ ns += $3 - $2 } END { printf "%d", ns }'
}

rss_mib() {
    awk '/^VmRSS/ { printf "%.0f", $2 / 1024 }' "/proc/$1/status"
}

# cpu_over SECONDS [PID]: the CPU of the program (or of PID) over that many seconds, in percent
# of one core, and its resident memory in MiB at the end.
cpu_over() {
    local seconds="$1" pid="${2:-$ASSISTANT_PID}" a
    a="$(thread_ns "$pid")"
    sleep "$seconds"
    awk -v ns="$(busy_ns "$a" "$(thread_ns "$pid")")" -v s="$seconds" -v m="$(rss_mib "$pid")" \
        'BEGIN { printf "%.2f %% of a core, %d MiB", 100 * ns / 1e9 / s, m }'
}

# cpu_side_by_side SECONDS WINDOWS PID REFERENCE_PID: both processes over the same windows, so
# that whatever else the machine does in a window weighs on both. Prints a line per window, then
# "program|reference|ratio" for the whole span (CPU with the memory at the end).
cpu_side_by_side() {
    local seconds="$1" windows="$2" pid="$3" ref="$4" i a b a0 b0 pa pb total_a=0 total_b=0
    for i in $(seq 1 "$windows"); do
        a0="$(thread_ns "$pid")"
        b0="$(thread_ns "$ref")"
        sleep "$seconds"
        pa="$(busy_ns "$a0" "$(thread_ns "$pid")")"
        pb="$(busy_ns "$b0" "$(thread_ns "$ref")")"
        total_a=$((total_a + pa))
        total_b=$((total_b + pb))
        awk -v a="$pa" -v b="$pb" -v s="$seconds" -v i="$i" 'BEGIN {
            printf "  window %d: program %.2f %%, ffmpeg %.2f %%, ratio %.2f\n", i,
                100 * a / 1e9 / s, 100 * b / 1e9 / s, a / b }' >&2
    done
    awk -v a="$total_a" -v b="$total_b" -v s="$((seconds * windows))" -v ma="$(rss_mib "$pid")" \
        -v mb="$(rss_mib "$ref")" 'BEGIN {
        printf "%.2f %% of a core, %d MiB|%.2f %% of a core, %d MiB|%.2f", 100 * a / 1e9 / s, ma,
            100 * b / 1e9 / s, mb, a / b }'
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
        # The reference: the ffmpeg command line pushing the same device to the same server,
        # alongside; both measured once past their start.
        ffmpeg -nostdin -v quiet -f pulse -sample_rate 48000 -channels 2 -i "${TAVIO_PULSE_SOURCE:-default}" \
            -ac 2 -ar 48000 -c:a aac -b:a 128k -f flv "$TAVIO_RTMP_URL_BASE/ffmpeg_cpu" &
        ffmpeg_pid=$!
        echo "$ffmpeg_pid" > "$TAVIO_PEERS_DIR/ffmpeg.pid"
        sleep 5
        echo "CPU pushing the tone, the program and the ffmpeg command line side by side:"
        side_by_side="$(cpu_side_by_side 20 3 "$ASSISTANT_PID" "$ffmpeg_pid")"
        kill "$ffmpeg_pid" && rm -f "$TAVIO_PEERS_DIR/ffmpeg.pid"
        IFS='|' read -r pushing ffmpeg_pushing ratio <<<"$side_by_side"
        sleep 1
    else
        sleep 3
    fi
    ms="$("$watch" text "$applog" "removePublishStreamUrl" 10000 -- xdotool mousemove --window "$panel" "$stop_x" "$push_y" click 1 || true)"
    stops+=("$ms")
    echo "push $i: click to state 2: $ms ms"
    sleep 2
done

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
echo "CPU, the ffmpeg command line pushing the tone:   $ffmpeg_pushing (in the same windows)"
echo "CPU pushing, program / ffmpeg (tone):           $ratio"
echo "assistant log: $applog"
