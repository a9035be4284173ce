#!/usr/bin/env bash
# CPU and memory of relaying a stereo tone to the local RTMP server: our SDK layer against the
# ffmpeg command line with the same settings (PulseAudio capture, AAC-LC 128 kbit/s, 48 kHz
# stereo, FLV over RTMP). Not a test: it prints figures.
#   tools/bench-rtc/bench-rtc.sh [build-dir] [seconds]
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-build}"
seconds="${2:-60}"
case "$build" in /*) ;; *) build="$root/$build" ;; esac
bench="$build/rtc/sdk/tavio-bench-rtc"
if [ ! -x "$bench" ]; then
    cmake --build "$build" --target tavio-bench-rtc -j2 >/dev/null
fi

cd "$root"
source scripts/peers.sh
peers_start
trap peers_stop EXIT
[ -n "${TAVIO_RTMP_URL_BASE:-}" ] && [ -n "${PULSE_SERVER:-}" ] || { echo "peers did not start" >&2; exit 1; }

out="$TAVIO_PEERS_DIR/bench"
mkdir -p "$out"

# user+sys CPU seconds and peak resident memory (KiB) of one command
measure() {
    local name="$1"; shift
    /usr/bin/time -f "%U %S %M" -o "$out/$name.time" "$@" >"$out/$name.log" 2>&1 || {
        echo "$name failed:" >&2; tail -5 "$out/$name.log" >&2; exit 1; }
}

echo "relaying ${seconds} s of a 1 kHz stereo tone from PulseAudio to nginx-rtmp..."
measure sdk "$bench" "$TAVIO_RTMP_URL_BASE/bench_sdk" "$seconds"
measure ffmpeg ffmpeg -nostdin -v error -f pulse -sample_rate 48000 -channels 2 -i "$TAVIO_PULSE_SOURCE" \
    -t "$seconds" -ac 2 -ar 48000 -c:a aac -b:a 128k -f flv "$TAVIO_RTMP_URL_BASE/bench_ffmpeg"

read -r su ss sm < "$out/sdk.time"
read -r fu fs fm < "$out/ffmpeg.time"
awk -v su="$su" -v ss="$ss" -v sm="$sm" -v fu="$fu" -v fs="$fs" -v fm="$fm" 'BEGIN {
    s = su + ss; f = fu + fs
    printf "%-22s %10s %12s\n", "", "CPU s", "peak MiB"
    printf "%-22s %10.2f %12.1f\n", "our SDK layer", s, sm / 1024
    printf "%-22s %10.2f %12.1f\n", "ffmpeg command line", f, fm / 1024
    printf "CPU ratio (ours / ffmpeg): %.2f (goal <= 0.90)\n", (f > 0 ? s / f : 0)
    printf "memory ratio (ours / ffmpeg): %.2f\n", (fm > 0 ? sm / fm : 0)
}'
for name in bench_sdk bench_ffmpeg; do
    f="$TAVIO_RTMP_RECORD_DIR/$name.flv"
    [ -e "$f" ] && echo "$name: $(ffprobe -v error -show_entries stream=codec_name,profile,sample_rate,channels -of csv=p=0 "$f")"
done
