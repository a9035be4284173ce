#!/bin/bash
# The launcher's rules, run from an unpacked tree like the package's with a stand-in program:
# its options, where the working folder goes, seeding (missing, present, edited, the user's own),
# a folder that cannot be created, and --demo (starts, reuses, refuses a foreign port).
# Usage: test_launcher.sh <local-services program>
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/../support/checks.sh"
services_program="$(readlink -f "$1")"

tree="$SCRATCH/root"
mkdir -p "$tree/usr/bin" "$tree/usr/lib/tavio" "$tree/usr/share/tavio/protoFiles/request" "$tree/etc/tavio"
cp "$here/../../packaging/tavio-assistant" "$tree/usr/bin/"
cp "$here/StubProgram.sh" "$tree/usr/lib/tavio/VozedIvazerida"
ln -s "$services_program" "$tree/usr/lib/tavio/tavio-localservices"
echo '{"sdkinit": "system 1"}' >"$tree/etc/tavio/GlobalConfig.json"
echo 'schema A' >"$tree/usr/share/tavio/protoFiles/A.proto"
echo 'schema B' >"$tree/usr/share/tavio/protoFiles/request/B.proto"
launcher="$tree/usr/bin/tavio-assistant"
export STUB_REPORT="$SCRATCH/report"
export TAVIO_DEMO_PORT=1 # no test here may reach a real service by accident

# run_launcher HOME XDG_DATA_HOME ARGS...: runs it with that environment; output in $SCRATCH/out, err.
run_launcher() {
    local home="$1" xdg="$2"
    shift 2
    rm -f "$STUB_REPORT"
    HOME="$home" XDG_DATA_HOME="$xdg" "$launcher" "$@" >"$SCRATCH/out" 2>"$SCRATCH/err"
    status=$?
}
started() { [ -e "$STUB_REPORT" ]; }
not_started() { [ ! -e "$STUB_REPORT" ]; }
status_is() { [ "$status" = "$1" ]; }

# --- options: answered by the launcher itself, the program is not started ---
while IFS='|' read -r args want_status want_stream want_text; do
    # shellcheck disable=SC2086
    run_launcher "$SCRATCH/home" "" $args
    check "options '$args': exit $want_status" status_is "$want_status"
    check "options '$args': says '$want_text'" contains "$SCRATCH/$want_stream" "$want_text"
    check "options '$args': program not started" not_started
done <<'EOF_ROWS'
--help|0|out|Usage: tavio-assistant [OPTION]...
-h|0|out|--version
--version|0|out|tavio-assistant 9.8.7.6
-V --demo|0|out|tavio-assistant 9.8.7.6
--frobnicate|2|err|unrecognized option '--frobnicate'
EOF_ROWS

# Other arguments reach the program (Qt's own options), "--" ends the launcher's options.
run_launcher "$SCRATCH/home" "" -platform offscreen -- --version
check "Qt options are passed on" contains "$STUB_REPORT" "args=-platform offscreen --version"

# A program without a readable version block: a plain error.
cp "$tree/usr/lib/tavio/VozedIvazerida" "$SCRATCH/stub.saved"
grep -v FileVersion "$SCRATCH/stub.saved" >"$tree/usr/lib/tavio/VozedIvazerida"
run_launcher "$SCRATCH/home" "" --version
check "unreadable version: exit 1" status_is 1
check "unreadable version: says so" contains "$SCRATCH/err" "cannot read the version"
cp "$SCRATCH/stub.saved" "$tree/usr/lib/tavio/VozedIvazerida"

# --- the working folder: absolute XDG_DATA_HOME, else ~/.local/share ---
while IFS='|' read -r xdg want; do
    home="$SCRATCH/wf-home"
    run_launcher "$home" "${xdg//@/$SCRATCH}"
    check "working folder for XDG_DATA_HOME='$xdg': program runs there" \
        contains "$STUB_REPORT" "cwd=${want//@/$SCRATCH}"
done <<'EOF_ROWS'
@/xdg|@/xdg/tavio
|@/wf-home/.local/share/tavio
relative/data|@/wf-home/.local/share/tavio
EOF_ROWS

# --- seeding: what the user's folder holds before, what the system holds at the start ---
# before: none (nothing), seeded (an untouched earlier seed), edited (a seed the user changed),
# own (a file the user wrote). After the start the file must read as "want".
work_config() { cat "$SCRATCH/seed/tavio/Config/GlobalConfig.json"; }
while IFS='|' read -r before system want; do
    rm -rf "$SCRATCH/seed"
    echo "{\"sdkinit\": \"system 1\"}" >"$tree/etc/tavio/GlobalConfig.json"
    case "$before" in
    none) ;;
    seeded | edited) run_launcher "$SCRATCH/home" "$SCRATCH/seed" ;;
    own)
        mkdir -p "$SCRATCH/seed/tavio/Config"
        echo '{"sdkinit": "mine"}' >"$SCRATCH/seed/tavio/Config/GlobalConfig.json"
        ;;
    esac
    [ "$before" = edited ] && echo '{"sdkinit": "edited"}' >"$SCRATCH/seed/tavio/Config/GlobalConfig.json"
    echo "{\"sdkinit\": \"$system\"}" >"$tree/etc/tavio/GlobalConfig.json"
    run_launcher "$SCRATCH/home" "$SCRATCH/seed"
    check "seeding: $before, system '$system' -> '$want'" [ "$(work_config)" = "{\"sdkinit\": \"$want\"}" ]
    run_launcher "$SCRATCH/home" "$SCRATCH/seed"
    check "seeding: $before, system '$system', second start -> '$want'" \
        [ "$(work_config)" = "{\"sdkinit\": \"$want\"}" ]
done <<'EOF_ROWS'
none|system 1|system 1
seeded|system 1|system 1
seeded|system 2|system 2
edited|system 1|edited
edited|system 2|edited
own|system 2|mine
EOF_ROWS

# Schemas: missing ones are added (also in sub-folders), the user's own are kept.
rm -rf "$SCRATCH/seed"
mkdir -p "$SCRATCH/seed/tavio/protoFiles"
echo 'my schema A' >"$SCRATCH/seed/tavio/protoFiles/A.proto"
run_launcher "$SCRATCH/home" "$SCRATCH/seed"
check "schemas: the user's own file is kept" [ "$(cat "$SCRATCH/seed/tavio/protoFiles/A.proto")" = "my schema A" ]
check "schemas: a missing file is added" [ "$(cat "$SCRATCH/seed/tavio/protoFiles/request/B.proto")" = "schema B" ]

# --- a working folder that cannot be created: a message on stderr, non-zero, no program ---
echo "not a folder" >"$SCRATCH/plain-file"
run_launcher "$SCRATCH/plain-file/home" ""
check "uncreatable folder: exit 1" status_is 1
check "uncreatable folder: says so, with the reason" contains "$SCRATCH/err" "cannot create the working folder $SCRATCH/plain-file/home/.local/share/tavio: Not a directory"
check "uncreatable folder: program not started" not_started

# --- --demo ---
export TAVIO_DEMO_PORT
TAVIO_DEMO_PORT="$(free_port)"
# Nothing on the port: the services run for the length of the run and stop with it, also when
# the launcher is told to stop.
rm -f "$STUB_REPORT"
HOME="$SCRATCH/home" XDG_DATA_HOME="" STUB_FETCH_PORT="$TAVIO_DEMO_PORT" STUB_RUN_SECONDS=30 \
    "$launcher" --demo >"$SCRATCH/out" 2>"$SCRATCH/err" &
launcher_pid=$!
at_end "kill $launcher_pid"
check "demo: the program reaches the services" wait_until contains "$STUB_REPORT" '"roomServer"'
kill -TERM "$launcher_pid"
wait "$launcher_pid"
status=$?
check "demo: a stop request ends the run cleanly" status_is 0
check "demo: the program was told to stop" contains "$STUB_REPORT" "stopped=TERM"
check "demo: the services stopped with the run" wait_until bash -c "! exec 3<>/dev/tcp/127.0.0.1/$TAVIO_DEMO_PORT"

# The services already answer there: used, not started twice, left running.
"$services_program" --port "$TAVIO_DEMO_PORT" >"$SCRATCH/services.out" 2>&1 &
services_pid=$!
at_end "kill $services_pid"
wait_until contains "$SCRATCH/services.out" "listening on"
services_log="$SCRATCH/home/.local/share/tavio/localservices.log"
rm -f "$services_log"
STUB_FETCH_PORT="$TAVIO_DEMO_PORT" run_launcher "$SCRATCH/home" "" --demo
check "demo, services running: program started" contains "$STUB_REPORT" '"roomServer"'
check "demo, services running: says it uses them" contains "$SCRATCH/err" "already answering"
check "demo, services running: no second server" [ ! -e "$services_log" ]
check "demo, services running: they are left running" kill -0 "$services_pid"
kill "$services_pid"
wait "$services_pid" 2>/dev/null

# Something else holds the port: a clear message, no server, no program. (A fresh port: the
# services' closed connections keep the last one in TIME_WAIT for a while.)
TAVIO_DEMO_PORT="$(free_port)"
python3 -c '
import socket, sys
s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", int(sys.argv[1]))); s.listen(4)
print("ready", flush=True)
while True:
    c, _ = s.accept(); c.recv(1024); c.sendall(b"HTTP/1.0 200 OK\r\n\r\nsomething else\n"); c.close()
' "$TAVIO_DEMO_PORT" >"$SCRATCH/other.out" 2>&1 &
other_pid=$!
at_end "kill $other_pid"
wait_until contains "$SCRATCH/other.out" ready
run_launcher "$SCRATCH/home" "" --demo
check "demo, port taken: exit 1" status_is 1
check "demo, port taken: says so" contains "$SCRATCH/err" "is taken by another program"
check "demo, port taken: program not started" not_started
check "demo, port taken: no server started" [ ! -e "$services_log" ]

finish_checks
