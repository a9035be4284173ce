#!/usr/bin/env bash
# The layer check: the source tree passes; includes that reach upwards fail, downward ones pass.
# Usage: check-layers-test.sh <source root>
set -uo pipefail
root="$1"
check="$root/tools/check-layers.sh"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
status=0

expect() { # expect <pass|fail> <case name> <file> <include line>
    local want="$1" name="$2" file="$3" line="$4" tree="$work/$2"
    mkdir -p "$tree/$(dirname "$file")"
    printf '#pragma once\n%s\n' "$line" >"$tree/$file"
    if bash "$check" "$tree" 2>/dev/null; then got=pass; else got=fail; fi
    if [ "$got" != "$want" ]; then
        echo "FAIL $name: expected $want, got $got" >&2
        status=1
    fi
}

if ! bash "$check" "$root"; then
    echo "FAIL the source tree breaks the layer rule" >&2
    status=1
fi
expect fail base-reaches-ui base/A.h '#include "ui/WarningBox.h"'
expect fail config-reaches-app config/A.h '#include "app/AppLifetime.h"'
expect fail net-reaches-service net/http/A.h '#  include "service/MuServer.h"'
expect fail sdk-reaches-wrapper rtc/sdk/A.h '#include "rtc/AgoraRtcEngine.h"'
expect fail rtc-reaches-workflow rtc/A.h '#include "workflow/Push.h"'
expect fail service-uses-widgets service/A.cpp '#include <QtWidgets/QMessageBox>'
expect pass ui-uses-everything-below ui/A.h '#include "rtc/AgoraRtcEngine.h"'
expect pass app-uses-widgets app/A.cpp '#include <QtWidgets/QMessageBox>'
expect pass same-layer net/session/A.h '#include "net/http/VHttpComm.h"'
exit $status
