# Sourced by the shell tests: named checks that count failures, and a scratch folder that is
# removed at the end. finish_checks ends the test with the verdict.
set -u
_checks_failed=0
_checks_run=0
SCRATCH="$(mktemp -d /tmp/tavio-shelltest.XXXXXX)"
_checks_cleanup=()
trap '_checks_end' EXIT

_checks_end() {
    local step
    for step in "${_checks_cleanup[@]+"${_checks_cleanup[@]}"}"; do
        eval "$step" 2>/dev/null || true
    done
    chmod -R u+w "$SCRATCH" 2>/dev/null
    rm -rf "$SCRATCH"
}

# at_end COMMAND: runs COMMAND when the test ends (stopping what the test started, by pid).
at_end() {
    _checks_cleanup+=("$1")
}

# check NAME COMMAND...: passes when COMMAND succeeds.
check() {
    local name="$1"
    shift
    _checks_run=$((_checks_run + 1))
    if "$@"; then
        echo "PASS $name"
    else
        echo "FAIL $name"
        _checks_failed=$((_checks_failed + 1))
    fi
}

# contains FILE TEXT: FILE holds TEXT (fixed string).
contains() {
    grep -qF -- "$2" "$1" 2>/dev/null
}

# wait_until COMMAND...: up to about 15 s for COMMAND to succeed.
wait_until() {
    local i
    for i in $(seq 1 150); do
        "$@" 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}

# A TCP port on 127.0.0.1 that nothing listens on right now.
free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

port_listens() {
    bash -c 'exec 3<>"/dev/tcp/127.0.0.1/$0"' "$1" 2>/dev/null
}

finish_checks() {
    echo "$_checks_run checks, $_checks_failed failed"
    [ "$_checks_failed" = 0 ]
    exit $?
}
