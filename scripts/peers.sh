# Sourced by the test and run scripts: starts and stops the local peers by process id.
# peers_start exports where they are; peers_stop ends what peers_start started.

_peers_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
_peers_dir=""

peers_start() {
    _peers_dir="$(mktemp -d /tmp/tavio-peers.XXXXXX)"
    export TAVIO_PEERS_DIR="$_peers_dir"
    # Further peers (RTMP, sound server) are added here by the issues that need them.
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
}
