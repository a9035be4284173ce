#!/usr/bin/env bash
# Soak test (not part of the test command): drives the real program on a private X server through
# push / stop cycles with heartbeats, mute and unmute, and a ban and its lifting by the room,
# against the local services, the private RTMP server and sound server, for a given time; then
# reports the program's resident memory at start and end, its open file descriptors and threads,
# and the WARNING lines of its log.
#   bash scripts/soak.sh [--minutes N]     (default 60)
# Samples go to out/soak/samples.csv, the program's log to out/soak/log/.
# TAVIO_SKIP_BUILD=1 skips the set-up and the build.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

minutes=60
while [ $# -gt 0 ]; do
    case "$1" in
        --minutes) minutes="$2"; shift 2 ;;
        *) echo "usage: soak.sh [--minutes N]" >&2; exit 2 ;;
    esac
done

source scripts/assistant.sh
[ "${TAVIO_SKIP_BUILD:-0}" = 1 ] || assistant_build

work="$root/out/soak"
rm -rf "$work"
mkdir -p "$work"

# The private sound server always: its tone is what the soak measures against.
assistant_start_headless "$work" peers_start

# The push button spans the panel until the push runs; then the mute button stands on its left.
push_idle_x=190
push_live_x=251
mute_x=95
buttons_y=416

sample() { # prints "rss_kib fds threads"
    local rss threads fds
    rss="$(sed -n 's/^VmRSS:[[:space:]]*\([0-9]*\) kB/\1/p' "/proc/$ASSISTANT_PID/status")"
    threads="$(sed -n 's/^Threads:[[:space:]]*//p' "/proc/$ASSISTANT_PID/status")"
    fds="$(ls "/proc/$ASSISTANT_PID/fd" | wc -l)"
    echo "$rss $fds $threads"
}

alive() { kill -0 "$ASSISTANT_PID" 2>/dev/null; }

live_state() { # the service's live flag for the demo user
    curl -sS --noproxy '*' "${TAVIO_SERVICES_URL}admin/state" |
        python3 -c 'import json,sys; u=[x for x in json.load(sys.stdin)["data"]["users"] if x["userId"]=="10001"]; print(u[0]["live"] if u else "?")'
}

login="$(assistant_wait_window 332)"
sleep 1
assistant_log_in "$login" 10001 123456
panel="$(assistant_wait_window 472)"
sleep 1
assistant_click "$panel" "$push_idle_x" "$buttons_y" # enter the room: state 2
sleep 1

one_cycle() {
    assistant_click "$panel" "$push_idle_x" "$buttons_y" # start the push: state 3
    sleep 6                                              # three heartbeats while live
    assistant_click "$panel" "$mute_x" "$buttons_y"      # mute
    sleep 2
    assistant_click "$panel" "$mute_x" "$buttons_y"      # unmute
    sleep 2
    assistant_admin ban userId=10001 banned=1 >/dev/null # the room bans the microphone
    sleep 4
    assistant_admin ban userId=10001 banned=0 >/dev/null
    sleep 4
    assistant_click "$panel" "$push_live_x" "$buttons_y" # end the push: state 2
    sleep 2
}

# One cycle to warm up (libraries, pipelines, fonts), then the measured ones.
one_cycle
read -r rss0 fds0 threads0 < <(sample)
echo "seconds,cycle,rss_kib,fds,threads,live_after_stop" > "$work/samples.csv"
echo "0,0,$rss0,$fds0,$threads0,$(live_state)" >> "$work/samples.csv"
start=$SECONDS
deadline=$(( start + minutes * 60 ))
cycles=0
not_told=0
while [ $SECONDS -lt $deadline ] && alive; do
    one_cycle
    cycles=$(( cycles + 1 ))
    alive || break
    live="$(live_state)"
    [ "$live" = "False" ] || not_told=$(( not_told + 1 ))
    read -r rss fds threads < <(sample)
    echo "$(( SECONDS - start )),$cycles,$rss,$fds,$threads,$live" >> "$work/samples.csv"
done

crashed=no
alive || crashed=yes
if [ "$crashed" = no ]; then
    read -r rss1 fds1 threads1 < <(sample)
else
    rss1="?"; fds1="?"; threads1="?"
fi
rss_max="$(tail -n +2 "$work/samples.csv" | cut -d, -f3 | sort -n | tail -1)"
warnings="$(cat "$work"/log/valog_*.txt 2>/dev/null | grep -c ' WARNING ' || true)"

echo
echo "soak: $(( (SECONDS - start) / 60 )) min, $cycles push/stop cycles (each: 3 heartbeats live, mute, unmute, ban, lift, stop)"
echo "crashed:            $crashed$( [ -d "$work/crash" ] && echo " (crash reports in $work/crash)")"
echo "resident memory:    start ${rss0} KiB, end ${rss1} KiB, highest ${rss_max} KiB, growth $(( ${rss1/\?/$rss0} - rss0 )) KiB"
echo "file descriptors:   start $fds0, end $fds1"
echo "threads:            start $threads0, end $threads1"
echo "service still live after a stop: $not_told of $cycles cycles"
echo "WARNING lines in the log: $warnings"
if [ "$warnings" -gt 0 ]; then
    cat "$work"/log/valog_*.txt | grep -A1 ' WARNING ' | grep -v -e ' WARNING ' -e '^--$' | sort | uniq -c | sort -rn | head -10
fi
echo "samples: $work/samples.csv"
[ "$crashed" = no ]
