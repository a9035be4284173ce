#!/usr/bin/env bash
# Start-up time and resident memory of the assistant against a bare Qt Widgets program that this
# script builds itself (one frameless window of the login window's size), on the same private X
# display in the same run, alternating the two. Not a test: it prints figures.
#   tools/bench-startup/bench-startup.sh [build-dir] [runs]
# Start-up: exec to the first window mapped (median of the runs). Memory: resident size once
# the window shows (median), and the assistant's peak while pushing the tone for 5 s. The bare
# program also runs without Qt's OpenGL integration, as the assistant does, for a like-for-like
# figure.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-build}"
runs="${2:-7}"
case "$build" in /*) ;; *) build="$root/$build" ;; esac
[ -x "$build/VozedIvazerida" ] || cmake --build "$build" --target VozedIvazerida tavio-localservices -j2 >/dev/null
export TAVIO_BUILD_DIR="$build"

cd "$root"
source scripts/assistant.sh
peers_start_for_run >/dev/null
trap assistant_stop_all EXIT
out="$TAVIO_PEERS_DIR/bench"
mkdir -p "$out"

# The reference program and the window watcher, built here with the same compiler settings.
here="$root/tools/bench-startup"
# shellcheck disable=SC2046
g++ -std=c++17 -O2 -fPIC -o "$out/bare-window" "$here/BareWindow.cpp" $(pkg-config --cflags --libs Qt5Widgets)
gcc -O2 -o "$out/map-watch" "$here/MapWatch.c" -lX11

work="$out/work"
mkdir -p "$work"
assistant_start_services "$work"
assistant_prepare_workdir "$work"
unset WAYLAND_DISPLAY
assistant_start_display

rss_kib() { awk -v key="$2:" '$1 == key {print $2}' "/proc/$1/status"; }

# one_run NAME COMMAND...: appends "seconds rss-KiB" to $out/NAME.
one_run() {
    local name="$1" pid seconds i
    shift
    rm -f "$out/watch"
    (cd "$work" && exec "$out/map-watch" 20 "$@") >"$out/watch.new" 2>>"$out/watch.err" &
    local watch_pid=$!
    for i in $(seq 1 200); do
        [ -s "$out/watch.new" ] && mv "$out/watch.new" "$out/watch" && break
        kill -0 "$watch_pid" 2>/dev/null || break
        sleep 0.05
    done
    read -r pid seconds <"$out/watch" || { echo "$name: no window" >&2; cat "$out/watch.err" >&2; exit 1; }
    sleep 1.5 # let the first frames and deferred work settle before reading the memory
    echo "$seconds $(rss_kib "$pid" VmRSS)" >>"$out/$name"
    kill "$pid"
    wait "$watch_pid" || true
}

echo "start-up and memory, $runs runs each on display $DISPLAY..."
for _ in $(seq 1 "$runs"); do
    one_run bare "$out/bare-window"
    one_run bare-nogl env QT_XCB_GL_INTEGRATION=none "$out/bare-window"
    one_run assistant "$build/VozedIvazerida"
done

# The assistant while pushing: log in with the demo account, enter the room, push for 5 s.
assistant_launch "$work"
panel=""
if login="$(assistant_wait_window 332)"; then
    assistant_log_in "$login" 10001 123456
    panel="$(assistant_wait_window 472)" || true
fi
push_peak=0
push_rss=0
if [ -n "$panel" ]; then
    sleep 1
    login_rss="$(rss_kib "$ASSISTANT_PID" VmRSS)"
    assistant_press_push "$panel"
    sleep 1.5
    assistant_press_push "$panel"
    if assistant_wait_live 10001 true; then
        sleep 5
        push_rss="$(rss_kib "$ASSISTANT_PID" VmRSS)"
        push_peak="$(rss_kib "$ASSISTANT_PID" VmHWM)"
    fi
fi

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
bare_s="$(cut -d ' ' -f 1 "$out/bare" | median)"
asst_s="$(cut -d ' ' -f 1 "$out/assistant" | median)"
bare_kib="$(cut -d ' ' -f 2 "$out/bare" | median)"
asst_kib="$(cut -d ' ' -f 2 "$out/assistant" | median)"
nogl_s="$(cut -d ' ' -f 1 "$out/bare-nogl" | median)"
nogl_kib="$(cut -d ' ' -f 2 "$out/bare-nogl" | median)"
awk -v bs="$bare_s" -v as="$asst_s" -v bk="$bare_kib" -v ak="$asst_kib" -v lk="${login_rss:-0}" \
    -v ns="$nogl_s" -v nk="$nogl_kib" \
    -v pk="$push_peak" -v pr="$push_rss" -v runs="$runs" 'BEGIN {
    printf "%-34s %10s %12s\n", "median of " runs " runs", "start s", "resident MiB"
    printf "%-34s %10.3f %12.1f\n", "bare Qt window", bs, bk / 1024
    printf "%-34s %10.3f %12.1f\n", "bare Qt window without GL", ns, nk / 1024
    printf "%-34s %10.3f %12.1f\n", "assistant, login window", as, ak / 1024
    printf "%-34s %10s %12.1f\n", "assistant, logged in", "", lk / 1024
    printf "%-34s %10s %12.1f\n", "assistant, pushing (now)", "", pr / 1024
    printf "%-34s %10s %12.1f\n", "assistant, peak while pushing", "", pk / 1024
    printf "start-up ratio (assistant / bare): %.2f (goal <= 1.20)\n", (bs > 0 ? as / bs : 0)
    printf "memory ratio at the login window (assistant / bare): %.2f\n", (bk > 0 ? ak / bk : 0)
    printf "against the bare window without GL (as the assistant runs): start-up %.2f, memory %.2f\n",
        (ns > 0 ? as / ns : 0), (nk > 0 ? ak / nk : 0)
    printf "memory ratio, peak while pushing (assistant / bare): %.2f, %+.1f MiB (goal <= +20 MiB)\n",
        (bk > 0 ? pk / bk : 0), (pk - bk) / 1024
}'
