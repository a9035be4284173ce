#!/usr/bin/env bash
# Builds everything and runs all tests: once normally, once under AddressSanitizer and
# UndefinedBehaviorSanitizer. Starts the peers the tests need and stops them by process id.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

bash scripts/setup.sh

bash scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
bash scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DTAVIO_SANITIZE=ON

# Peers (RTMP server, sound server) for the tests that meet them.
source scripts/peers.sh
peers_start
trap peers_stop EXIT
export TAVIO_REQUIRE_PEERS=1

status=0
ctest --test-dir build --output-on-failure -j2 -LE faults || status=1
# The standing fault suite (label "faults") on its own, so both runs' times stay visible; it
# prints how many scenarios it ran. Its whole output goes to build/faults.log.
ctest --test-dir build -V -L faults 2>&1 | tee build/faults.log |
    grep -E "fault scenarios|FAIL!|Loc: |tests passed|Total Test time" || status=1
ctest --test-dir build-asan --output-on-failure -j2 -LE "${TAVIO_ASAN_EXCLUDE_LABELS:-^$}" || status=1

# The fuzz targets over their seed and regression inputs, a short fixed number of runs each.
bash scripts/fuzz.sh || status=1
exit $status
