# Sourced by the test and run scripts: starts and stops the local peers by process id.
# peers_start exports where they are; peers_stop ends what peers_start started.

_peers_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
_peers_dir=""

peers_start() {
    _peers_dir="$(mktemp -d /tmp/tavio-peers.XXXXXX)"
    export TAVIO_PEERS_DIR="$_peers_dir"
    # Further peers (RTMP, sound server) are added here by the issues that need them.
    _peers_start_rtmp || echo "peers: RTMP server not started" >&2
    _peers_start_rtmp stock || echo "peers: stock RTMP server not started" >&2
    _peers_start_pulse || echo "peers: sound server not started" >&2
}

# For the run command: the RTMP server, and the private sound server only when no sound server
# of the desktop answers (the assistant then records from the desktop's devices).
peers_start_for_run() {
    _peers_dir="$(mktemp -d /tmp/tavio-peers.XXXXXX)"
    export TAVIO_PEERS_DIR="$_peers_dir"
    _peers_start_rtmp || echo "peers: RTMP server not started" >&2
    if { [ -n "${PULSE_SERVER:-}" ] || [ -S "${XDG_RUNTIME_DIR:-/nonexistent}/pulse/native" ]; } \
        && pactl info >/dev/null 2>&1; then
        echo "peers: using the desktop's sound server"
    else
        _peers_start_pulse || echo "peers: sound server not started" >&2
    fi
}

# A TCP port on 127.0.0.1 that nothing listens on right now.
_peers_free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# Waits up to about 10 s for a command to succeed.
_peers_wait_for() {
    local i
    for i in $(seq 1 100); do
        "$@" >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    return 1
}

# nginx with the RTMP module from a private prefix, loopback only, recording every stream.
# One process (no master/worker pair), so stopping its process id stops the server; a stream's
# recording is complete once its publisher has gone or the server has stopped.
# With "stock": a second one as Debian configures the module (acknowledgements every 5 MB), for
# the tests that stop it (TAVIO_RTMP_STOCK_URL_BASE, TAVIO_RTMP_STOCK_PID).
_peers_start_rtmp() {
    local module=/usr/lib/nginx/modules/ngx_rtmp_module.so
    [ -x /usr/sbin/nginx ] && [ -e "$module" ] || return 1
    local kind="${1:-}" name=nginx ack="ack_window 16384;"
    if [ "$kind" = stock ]; then name=nginx-stock; ack=""; fi
    local prefix="$_peers_dir/$name" port
    port="$(_peers_free_port)" || return 1
    mkdir -p "$prefix/logs" "$prefix/record"
    chmod 755 "$_peers_dir" "$prefix"
    chmod 777 "$prefix/record"
    cat > "$prefix/nginx.conf" <<EOF_NGINX
load_module $module;
daemon off;
master_process off;
worker_processes 1;
pid $prefix/nginx.pid.own;
error_log $prefix/logs/error.log info;
events { worker_connections 64; }
rtmp {
    server {
        listen 127.0.0.1:$port;
        chunk_size 4096;
        # The first asks publishers for an acknowledgement every 16 KiB (about once a second at
        # 128 kbit/s), as a tuned server does.
        $ack
        application live {
            live on;
            allow publish 127.0.0.1;
            deny publish all;
            allow play 127.0.0.1;
            deny play all;
            record all;
            record_path $prefix/record;
            record_unique off;
        }
    }
}
EOF_NGINX
    /usr/sbin/nginx -p "$prefix" -c "$prefix/nginx.conf" -e "$prefix/logs/error.log" \
        >"$prefix/logs/stdout.log" 2>&1 &
    echo $! > "$_peers_dir/$name.pid"
    _peers_wait_for bash -c "exec 3<>/dev/tcp/127.0.0.1/$port" || return 1
    if [ "$kind" = stock ]; then
        export TAVIO_RTMP_STOCK_URL_BASE="rtmp://127.0.0.1:$port/live"
        export TAVIO_RTMP_STOCK_PID="$(cat "$_peers_dir/$name.pid")"
        export TAVIO_RTMP_STOCK_RECORD_DIR="$prefix/record"
        return 0
    fi
    export TAVIO_RTMP_URL_BASE="rtmp://127.0.0.1:$port/live"
    export TAVIO_RTMP_RECORD_DIR="$prefix/record"
}

# PulseAudio with a null sink whose monitor is the capture source; a 1 kHz stereo tone
# (-6 dBFS) plays into the sink in a loop.
_peers_start_pulse() {
    command -v pulseaudio >/dev/null && command -v paplay >/dev/null || return 1
    local dir="$_peers_dir/pulse" sink=tavio_null
    mkdir -p "$dir/home" "$dir/run"
    chmod 700 "$dir/home" "$dir/run"
    local socket="$dir/run/native"
    HOME="$dir/home" XDG_RUNTIME_DIR="$dir/run" pulseaudio --daemonize=no --exit-idle-time=-1 -n \
        --disallow-exit --use-pid-file=no --log-target=stderr \
        --load="module-native-protocol-unix auth-anonymous=1 socket=$socket" \
        --load="module-null-sink sink_name=$sink rate=48000 channels=2" \
        >"$dir/pulseaudio.log" 2>&1 &
    echo $! > "$_peers_dir/pulseaudio.pid"
    export PULSE_SERVER="unix:$socket"
    _peers_wait_for pactl info || return 1
    pactl set-default-source "$sink.monitor" >/dev/null 2>&1 || true

    local tone="$dir/tone-1khz.wav"
    if command -v sox >/dev/null; then
        sox -n -r 48000 -c 2 -b 16 "$tone" synth 30 sine 1000 vol 0.5 || return 1
    else
        ffmpeg -v error -f lavfi -i "sine=frequency=1000:sample_rate=48000:duration=30" \
            -af "volume=-6dB" -ac 2 "$tone" || return 1
    fi
    TAVIO_PULSE_SINK="$sink" peers_play_loop "$tone" tone
    export TAVIO_PULSE_SINK="$sink"
    export TAVIO_PULSE_SOURCE="$sink.monitor"
    export TAVIO_TONE_FILE="$tone"
}

# peers_play_loop FILE NAME: plays FILE into the sound server's sink over and over until the
# peers stop (its process id goes into NAME.pid).
peers_play_loop() {
    local file="$1" name="$2"
    (
        trap 'kill "$child" 2>/dev/null; exit 0' TERM
        child=""
        while :; do
            paplay -d "$TAVIO_PULSE_SINK" "$file" >/dev/null 2>&1 &
            child=$!
            wait "$child" || sleep 0.2
        done
    ) &
    echo $! > "$_peers_dir/$name.pid"
}

peers_stop() {
    [ -n "$_peers_dir" ] || return 0
    local f
    for f in "$_peers_dir"/*.pid; do
        [ -e "$f" ] || continue
        kill "$(cat "$f")" 2>/dev/null || true
    done
    sleep 0.5
    for f in "$_peers_dir"/*.pid; do
        [ -e "$f" ] || continue
        kill -9 "$(cat "$f")" 2>/dev/null || true
    done
    # Each run leaves some megabytes of recordings and sound-server state: gone with the peers,
    # unless TAVIO_KEEP_PEERS=1 asks to keep them for a look.
    if [ "${TAVIO_KEEP_PEERS:-0}" = 1 ]; then
        echo "peers: kept $_peers_dir" >&2
    else
        rm -rf "$_peers_dir"
    fi
    _peers_dir=""
}
