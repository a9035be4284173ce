#!/usr/bin/env bash
# Builds the libFuzzer targets (clang 14, ASan + UBSan, tests/fuzz/) into build-fuzz/ and runs
# each one over its seed corpus tests/fuzz/corpus/<target>/ (only read; regression inputs live
# there too).
#   bash scripts/fuzz.sh                 a short fixed number of runs per target (the test command)
#   bash scripts/fuzz.sh --runs N        N runs per target
#   bash scripts/fuzz.sh --minutes N     N minutes per target
#   bash scripts/fuzz.sh --only NAME     just that target (e.g. settings), with either of the above
# Prints runs, execs/s and coverage per target. New inputs go to build-fuzz/corpus/<target>/, a
# crash to build-fuzz/crashes/; add a crash to the seed corpus once it is mended.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

runs=3000
seconds=0
only=""
while [ $# -gt 0 ]; do
    case "$1" in
        --runs) runs="$2"; shift 2 ;;
        --minutes) seconds=$(( $2 * 60 )); shift 2 ;;
        --only) only="$2"; shift 2 ;;
        *) echo "usage: fuzz.sh [--runs N | --minutes N] [--only TARGET]" >&2; exit 2 ;;
    esac
done

out="$root/build-fuzz"
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$root}"
CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$out" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVIO_FUZZ=ON \
    -DTAVIO_BUILD_TESTS=OFF >/dev/null
cmake --build "$out" -j"$(nproc)" --target tavio_fuzz_all >/dev/null

# libFuzzer checks every input for leaks; the check at exit would only judge Qt's teardown of
# its global caches, which now and then leaves a string behind.
export ASAN_OPTIONS="detect_leaks=1:leak_check_at_exit=0:allocator_may_return_null=1"
export LSAN_OPTIONS="suppressions=$root/tests/fuzz/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

targets=()
for seeds in "$root"/tests/fuzz/corpus/*/; do
    name="$(basename "$seeds")"
    [ -z "$only" ] || [ "$only" = "$name" ] || continue
    targets+=("$name")
done
[ "${#targets[@]}" -gt 0 ] || { echo "fuzz: no target named $only" >&2; exit 2; }

mkdir -p "$out/crashes" "$out/logs"
limit=(-runs="$runs")
[ "$seconds" -gt 0 ] && limit=(-max_total_time="$seconds")

# Two targets at a time (one per core); each writes its own log.
run_one() {
    local name="$1" corpus="$out/corpus/$1"
    mkdir -p "$corpus"
    # The JSON parsers need full stacks through Qt (built without frame pointers) so that the
    # suppression can name QJsonDocument::fromJson; the slow unwinding costs the others too much.
    local asan="$ASAN_OPTIONS"
    case "$name" in
        config_file | sdkinit_reply | push_envelope) asan="$asan:fast_unwind_on_malloc=0" ;;
    esac
    ASAN_OPTIONS="$asan" "$out/tests/fuzz/fuzz_$name" "${limit[@]}" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$out/crashes/$name-" \
        "$corpus" "$root/tests/fuzz/corpus/$name" >"$out/logs/$name.log" 2>&1
}
status=0
pids=()
names=()
for name in "${targets[@]}"; do
    run_one "$name" &
    pids+=($!)
    names+=("$name")
    if [ "${#pids[@]}" -ge "$(nproc)" ]; then
        wait "${pids[0]}" || { status=1; echo "fuzz: $( basename "${names[0]}") FAILED, see $out/logs/${names[0]}.log" >&2; }
        pids=("${pids[@]:1}")
        names=("${names[@]:1}")
    fi
done
for i in "${!pids[@]}"; do
    wait "${pids[$i]}" || { status=1; echo "fuzz: ${names[$i]} FAILED, see $out/logs/${names[$i]}.log" >&2; }
done

printf '%-15s %10s %9s %6s %7s %9s\n' target runs exec/s cov ft seconds
for name in "${targets[@]}"; do
    log="$out/logs/$name.log"
    done_line="$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1 || true)"
    runs_done="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)"
    execs="$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)"
    cov="$(echo "$done_line" | sed -n 's/.*cov: \([0-9]*\).*/\1/p')"
    ft="$(echo "$done_line" | sed -n 's/.*ft: \([0-9]*\).*/\1/p')"
    secs="$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -1)"
    printf '%-15s %10s %9s %6s %7s %9s\n' "$name" "${runs_done:-?}" "${execs:-?}" "${cov:-?}" "${ft:-?}" \
        "${secs:-${seconds}}"
done
exit $status
