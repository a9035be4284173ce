# Sourced by run.sh and screenshots.sh: starts the assistant with its local services in a
# working folder of its own, and drives its windows on an X display (xdotool, ImageMagick).
# Everything started here leaves its process id in $TAVIO_PEERS_DIR, so peers_stop ends it.

_asst_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# shellcheck source=peers.sh
source "$_asst_root/scripts/peers.sh"

ASSISTANT_TITLE="Tavio语音房电脑助手"
# Build tree of the program, relative to the repository root.
ASSISTANT_BUILD_DIR="${TAVIO_BUILD_DIR:-build}"

# Only the program and the local services: the tests are the test command's business.
assistant_build() {
    bash "$_asst_root/scripts/setup.sh"
    cmake -S "$_asst_root" -B "$_asst_root/$ASSISTANT_BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$_asst_root/$ASSISTANT_BUILD_DIR" -j"$(nproc)" --target VozedIvazerida tavio-localservices
}

# assistant_start_services WORKDIR: the local services on a free port; sets TAVIO_SERVICES_URL.
assistant_start_services() {
    local work="$1" rtmp_port=1935 out="$TAVIO_PEERS_DIR/localservices.log" i
    if [[ "${TAVIO_RTMP_URL_BASE:-}" =~ :([0-9]+)/ ]]; then
        rtmp_port="${BASH_REMATCH[1]}"
    fi
    "$_asst_root/$ASSISTANT_BUILD_DIR/localservices/tavio-localservices" --port 0 --data "$work/accounts.json" \
        --rtmp-host 127.0.0.1 --rtmp-port "$rtmp_port" >"$out" 2>&1 &
    echo $! > "$TAVIO_PEERS_DIR/localservices.pid"
    TAVIO_SERVICES_URL=""
    for i in $(seq 1 100); do
        TAVIO_SERVICES_URL="$(sed -n 's|^listening on \(http://[^ ]*\)$|\1|p' "$out" | head -n 1)"
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
    (cd "$work" && exec "$_asst_root/$ASSISTANT_BUILD_DIR/VozedIvazerida") >"$TAVIO_PEERS_DIR/assistant.log" 2>&1 &
    ASSISTANT_PID=$!
    echo "$ASSISTANT_PID" > "$TAVIO_PEERS_DIR/assistant.pid"
}

# assistant_start_headless WORKDIR: everything for driving the program without a desktop: the
# peers, the local services, the working folder, a private X display and the program itself;
# stops all of it when the calling script exits.
assistant_start_headless() {
    local work="$1"
    peers_start_for_run
    trap assistant_stop_all EXIT
    assistant_start_services "$work"
    assistant_prepare_workdir "$work"
    unset WAYLAND_DISPLAY
    assistant_start_display
    assistant_launch "$work"
}

# Ends the assistant first, giving it time to write its settings, then every peer.
assistant_stop_all() {
    local i
    if [ -n "${ASSISTANT_PID:-}" ] && kill -0 "$ASSISTANT_PID" 2>/dev/null; then
        kill "$ASSISTANT_PID" 2>/dev/null || true
        for i in $(seq 1 50); do
            kill -0 "$ASSISTANT_PID" 2>/dev/null || break
            sleep 0.1
        done
    fi
    peers_stop
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
