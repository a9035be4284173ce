# Sourced by run.sh and screenshots.sh: starts the assistant with its local services in a
# working folder of its own, and drives its windows on an X display (xdotool, ImageMagick).
# Everything started here leaves its process id in $TAVIO_PEERS_DIR, so peers_stop ends it.

_asst_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# shellcheck source=peers.sh
source "$_asst_root/scripts/peers.sh"

ASSISTANT_TITLE="Tavio语音房电脑助手"
# Build tree of the program (relative paths are taken from the repository root).
ASSISTANT_BUILD_DIR="${TAVIO_BUILD_DIR:-build}"
[[ "$ASSISTANT_BUILD_DIR" = /* ]] || ASSISTANT_BUILD_DIR="$_asst_root/$ASSISTANT_BUILD_DIR"

# Only the program and the local services: the tests are the test command's business.
assistant_build() {
    bash "$_asst_root/scripts/setup.sh"
    cmake -S "$_asst_root" -B "$ASSISTANT_BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$ASSISTANT_BUILD_DIR" -j"$(nproc)" --target VozedIvazerida tavio-localservices
}

# assistant_start_services WORKDIR: the local services on a free port; sets TAVIO_SERVICES_URL.
assistant_start_services() {
    local work="$1" rtmp_port=1935 out="$TAVIO_PEERS_DIR/localservices.log" i
    if [[ "${TAVIO_RTMP_URL_BASE:-}" =~ :([0-9]+)/ ]]; then
        rtmp_port="${BASH_REMATCH[1]}"
    fi
    "$ASSISTANT_BUILD_DIR/localservices/tavio-localservices" --port 0 --data "$work/accounts.json" \
        --rtmp-host 127.0.0.1 --rtmp-port "$rtmp_port" >"$out" 2>&1 &
    echo $! > "$TAVIO_PEERS_DIR/localservices.pid"
    TAVIO_SERVICES_URL=""
    for i in $(seq 1 100); do
        # The log may not exist yet (the shell that starts the services opens it): no error then.
        TAVIO_SERVICES_URL="$(sed -n 's|^listening on \(http://[^ ]*\)$|\1|p' "$out" 2>/dev/null | head -n 1 || true)"
        [ -n "$TAVIO_SERVICES_URL" ] && break
        sleep 0.1
    done
    if [ -z "$TAVIO_SERVICES_URL" ]; then
        echo "the local services did not start:" >&2
        cat "$out" >&2
        return 1
    fi
    export TAVIO_SERVICES_URL
}

# assistant_prepare_workdir WORKDIR: configuration pointing at the local services, schemas.
assistant_prepare_workdir() {
    local work="$1"
    mkdir -p "$work/Config"
    cat > "$work/Config/GlobalConfig.json" <<EOF_CONFIG
{
    "ServerType": "1000",
    "sdkinit": "${TAVIO_SERVICES_URL}sdkinit",
    "pcmDump": "false",
    "vaDetailLog": "false",
    "dumpTest": "false"
}
EOF_CONFIG
    if [ -d "$_asst_root/protoFiles" ]; then
        rm -rf "$work/protoFiles"
        cp -r "$_asst_root/protoFiles" "$work/"
    fi
}

# assistant_start_display: a private X server (and a compositor, without which translucent
# window areas are painted black) when there is no display; sets DISPLAY.
assistant_start_display() {
    local fifo="$TAVIO_PEERS_DIR/displayfd" number i
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -wr 3>"$fifo" \
        >"$TAVIO_PEERS_DIR/xvfb.log" 2>&1 &
    echo $! > "$TAVIO_PEERS_DIR/xvfb.pid"
    read -r -t 20 number <"$fifo" || { echo "Xvfb did not start" >&2; return 1; }
    export DISPLAY=":$number"
    xcompmgr >"$TAVIO_PEERS_DIR/xcompmgr.log" 2>&1 &
    echo $! > "$TAVIO_PEERS_DIR/xcompmgr.pid"
    for i in $(seq 1 50); do
        xdotool getdisplaygeometry >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    return 1
}

# assistant_launch WORKDIR: starts the program in the background; sets ASSISTANT_PID.
assistant_launch() {
    local work="$1"
    (cd "$work" && exec "$ASSISTANT_BUILD_DIR/VozedIvazerida") >"$TAVIO_PEERS_DIR/assistant.log" 2>&1 &
    ASSISTANT_PID=$!
    echo "$ASSISTANT_PID" > "$TAVIO_PEERS_DIR/assistant.pid"
}

# assistant_start_headless WORKDIR [PEERS]: everything for driving the program without a
# desktop: the peers (started by the function PEERS, peers_start_for_run unless given), the local
# services, the working folder, a private X display and the program itself; stops all of it when
# the calling script exits.
assistant_start_headless() {
    local work="$1" start_peers="${2:-peers_start_for_run}"
    "$start_peers"
    trap assistant_stop_all EXIT
    assistant_start_services "$work"
    assistant_prepare_workdir "$work"
    unset WAYLAND_DISPLAY
    assistant_start_display
    assistant_launch "$work"
}

# Ends the assistant first, giving it time to write its settings, then every peer.
assistant_stop_all() {
    assistant_stop
    peers_stop
}

# Ends the assistant only, giving it time to write its settings.
assistant_stop() {
    local i
    if [ -n "${ASSISTANT_PID:-}" ] && kill -0 "$ASSISTANT_PID" 2>/dev/null; then
        kill "$ASSISTANT_PID" 2>/dev/null || true
        for i in $(seq 1 50); do
            kill -0 "$ASSISTANT_PID" 2>/dev/null || break
            sleep 0.1
        done
    fi
}

# The visible window of the assistant (login window or panel), empty when none.
assistant_window() {
    xdotool search --onlyvisible --name "$ASSISTANT_TITLE" 2>/dev/null | tail -n 1
}

# assistant_wait_window HEIGHT: waits until the visible assistant window has that height
# (332 the login window, 472 the panel); prints its id.
assistant_wait_window() {
    local want="$1" id i HEIGHT WIDTH X Y SCREEN WINDOW
    for i in $(seq 1 150); do
        id="$(assistant_window)"
        if [ -n "$id" ]; then
            eval "$(xdotool getwindowgeometry --shell "$id")"
            if [ "$HEIGHT" = "$want" ]; then
                echo "$id"
                return 0
            fi
        fi
        sleep 0.1
    done
    echo "no assistant window of height $want appeared" >&2
    return 1
}

# assistant_click WINDOW X Y: a left click at window coordinates.
assistant_click() {
    xdotool mousemove --window "$1" "$2" "$3" click 1
    sleep 0.3
}

# assistant_shot WINDOW FILE: the window as the screen shows it (composited, so its
# translucent corners show the desktop behind).
assistant_shot() {
    local id="$1" file="$2" HEIGHT WIDTH X Y SCREEN WINDOW
    eval "$(xdotool getwindowgeometry --shell "$id")"
    mkdir -p "$(dirname "$file")"
    import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$file"
    echo "saved $file"
}

# assistant_admin OPERATION KEY=VALUE...: plays the phone side through the admin API.
assistant_admin() {
    local op="$1" args=() kv
    shift
    for kv in "$@"; do
        args+=(--data-urlencode "$kv")
    done
    curl -sS --noproxy '*' -X POST "${args[@]}" "${TAVIO_SERVICES_URL}admin/$op"
    echo
}

# A point inside the panel's push button in every state (it narrows to the right when the mute
# button appears beside it).
ASSISTANT_PUSH_X=300
ASSISTANT_PUSH_Y=416

# assistant_press_push PANEL: presses the panel's push button (enter room, start push, end live).
assistant_press_push() {
    assistant_click "$1" "$ASSISTANT_PUSH_X" "$ASSISTANT_PUSH_Y"
}

# assistant_wait_live USER true|false: waits up to about 15 s until the local services record the
# user's live status as given.
assistant_wait_live() {
    local i
    for i in $(seq 1 150); do
        curl -sS --noproxy '*' "${TAVIO_SERVICES_URL}admin/state" 2>/dev/null |
            python3 -c 'import json, sys
users = json.load(sys.stdin)["data"]["users"]
sys.exit(0 if any(str(u.get("userId")) == sys.argv[1] and u.get("live") == (sys.argv[2] == "true")
                  for u in users) else 1)' "$1" "$2" && return 0
        sleep 0.1
    done
    echo "the services never recorded user $1 as live=$2" >&2
    return 1
}

# assistant_report_recording FILE: prints what the RTMP server recorded (codec, sample rate,
# channels, seconds of audio, level) and succeeds only when audible audio of at least 3 s arrived.
assistant_report_recording() {
    local file="$1" codec rate channels seconds mean peak
    if [ ! -s "$file" ]; then
        echo "the RTMP server recorded nothing ($file is missing or empty)"
        return 1
    fi
    IFS=, read -r codec rate channels seconds < <(ffprobe -v error -select_streams a:0 \
        -show_entries stream=codec_name,sample_rate,channels:format=duration -of csv=p=0:nk=1 "$file" |
        paste -s -d ,) || true
    read -r mean peak < <(ffmpeg -hide_banner -nostats -i "$file" -map 0:a:0 -af volumedetect -f null - 2>&1 |
        sed -n 's/.*\(mean\|max\)_volume: \(-\?[0-9.]*\) dB.*/\2/p' | paste -s -d ' ') || true
    echo "RTMP recording:   $file"
    echo "  codec ${codec:-none}, ${rate:-?} Hz, ${channels:-?} channels, ${seconds:-0} s of audio"
    echo "  level: mean ${mean:-?} dBFS, peak ${peak:-?} dBFS"
    python3 - "${codec:-}" "${seconds:-0}" "${peak:--inf}" <<'EOF_VERDICT'
import sys
codec, seconds, peak = sys.argv[1], float(sys.argv[2] or 0), float(sys.argv[3])
ok = codec == "aac" and seconds >= 3 and peak > -60
print("audio arrived" if ok else "no usable audio arrived (want AAC, at least 3 s, above -60 dBFS)")
sys.exit(0 if ok else 1)
EOF_VERDICT
}

# assistant_log_in WINDOW USER PASSWORD: types into the login window and presses the button.
assistant_log_in() {
    local id="$1"
    assistant_click "$id" 190 136
    xdotool key --clearmodifiers ctrl+a BackSpace
    xdotool type --delay 30 "$2"
    assistant_click "$id" 190 196
    xdotool key --clearmodifiers ctrl+a BackSpace
    xdotool type --delay 30 "$3"
    assistant_click "$id" 190 276
}
