#!/bin/bash
# Stands in for the assistant behind the launcher: writes where and how it was started to
# $STUB_REPORT; with STUB_FETCH_PORT it also reports the configuration service's answer there;
# with STUB_RUN_SECONDS it stays up that long (ending cleanly on SIGTERM).
# The line below is the version entry that the launcher reads from the program:
# \StringFileInfo\080404b0\FileVersion	9.8.7.6
{
    echo "cwd=$PWD"
    echo "args=$*"
    if [ -n "${STUB_FETCH_PORT:-}" ]; then
        echo "sdkinit=$(curl -sS --noproxy '*' --max-time 5 "http://127.0.0.1:$STUB_FETCH_PORT/sdkinit")"
    fi
} >"$STUB_REPORT"
if [ -n "${STUB_RUN_SECONDS:-}" ]; then
    trap 'echo "stopped=TERM" >>"$STUB_REPORT"; exit 0' TERM
    sleep "$STUB_RUN_SECONDS" &
    wait $!
fi
exit 0
