#!/usr/bin/env bash
# Fails when a source file of a layer includes a header of a higher layer, or when a layer below
# the windows includes Qt Widgets. Usage: check-layers.sh [source root]
set -euo pipefail
root="${1:-$(cd "$(dirname "$0")/.." && pwd)}"
cd "$root"

layers=()
for dir in base config net service rtc workflow ui app; do
    [ -d "$dir" ] && layers+=("$dir")
done
[ "${#layers[@]}" -gt 0 ] || exit 0

find "${layers[@]}" -type f \( -name '*.h' -o -name '*.cpp' \) -print0 | sort -z |
    xargs -0 awk '
    # Layer rank of a path, bottom to top; -1 for folders that are not layers.
    function rank(path) {
        if (path ~ /^(base|config)\//) return 0
        if (path ~ /^rtc\/sdk\//) return 1
        if (path ~ /^net\//) return 2
        if (path ~ /^service\//) return 3
        if (path ~ /^rtc\//) return 4
        if (path ~ /^workflow\//) return 5
        if (path ~ /^ui\//) return 6
        if (path ~ /^app\//) return 7
        return -1
    }
    BEGIN { widgets = 6 }
    /^[ \t]*#[ \t]*include[ \t]*[<"]/ {
        header = $0
        sub(/^[ \t]*#[ \t]*include[ \t]*[<"]/, "", header)
        sub(/[>"].*$/, "", header)
        own = rank(FILENAME)
        if (own < widgets && header ~ /^QtWidgets/) {
            printf "%s:%d: includes Qt Widgets (%s) below the windows\n", FILENAME, FNR, header > "/dev/stderr"
            failures++
        } else if (rank(header) > own) {
            printf "%s:%d: includes %s of a higher layer\n", FILENAME, FNR, header > "/dev/stderr"
            failures++
        }
    }
    END {
        if (failures > 0) {
            printf "layer check: %d include(s) reach upwards\n", failures > "/dev/stderr"
            exit 1
        }
    }'
