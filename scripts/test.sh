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

# Most tests wait for peers and the network rather than for the processor, so four run at a
# time even on two cores.
status=0
ctest --test-dir build --output-on-failure -j4 || status=1
ctest --test-dir build-asan --output-on-failure -j4 -LE "${TAVIO_ASAN_EXCLUDE_LABELS:-^$}" || status=1
exit $status
