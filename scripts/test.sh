#!/usr/bin/env bash
# Builds everything and runs all tests: once normally, once under AddressSanitizer and
# UndefinedBehaviorSanitizer. Starts the peers the tests need and stops them by process id.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

# Each step says how long it took, so a slow CI run shows where its time went.
step() { echo "test.sh: $1 took $SECONDS s"; SECONDS=0; }

bash scripts/setup.sh
step "set-up"
bash scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
step "build"
bash scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DTAVIO_SANITIZE=ON
step "sanitizer build"

# Peers (RTMP server, sound server) for the tests that meet them.
source scripts/peers.sh
peers_start
trap peers_stop EXIT
export TAVIO_REQUIRE_PEERS=1

# Most tests wait for peers and the network rather than for the processor, so four run at a
# time even on two cores.
status=0
# The standing fault suite (label "faults") runs beside the unit tests; ctest's label summary
# shows its time apart from theirs, and it leaves the number of its scenarios beside the build.
for tree in build build-asan; do
    rm -f "$tree/faults-summary.txt"
    if [ "$tree" = build ]; then
        ctest --test-dir "$tree" --output-on-failure -j4 || status=1
    else
        ctest --test-dir "$tree" --output-on-failure -j4 -LE "${TAVIO_ASAN_EXCLUDE_LABELS:-^$}" || status=1
    fi
    step "ctest in $tree"
    [ -e "$tree/faults-summary.txt" ] && awk -v tree="$tree" '{ run += $3; failed += $5 }
        END { print tree ": fault scenarios: " run " run, " failed " failed" }' "$tree/faults-summary.txt"
done

# The fuzz targets over their seed and regression inputs, a short fixed number of runs each.
bash scripts/fuzz.sh || status=1
step "fuzz build and runs"
exit $status
