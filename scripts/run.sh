#!/usr/bin/env bash
# Builds the assistant and starts it in a working folder of its own ("out/run").
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

bash scripts/setup.sh
bash scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo

work="$root/out/run"
mkdir -p "$work/Config"
cp -r build/protoFiles "$work/" 2>/dev/null || true
cd "$work"
exec "$root/build/VozedIvazerida" "$@"
