#!/usr/bin/env bash
# Configures and builds one build tree: build.sh <dir> [extra cmake arguments...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dir="$1"; shift
# Paths relative to the checkout, so that ccache serves a build of another clone on the same
# machine (a CI clone, a second working copy) from what it has already compiled.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$root}"
cmake -S "$root" -B "$root/$dir" "$@" >/dev/null
cmake --build "$root/$dir" -j"$(nproc)"
