# shellcheck shell=bash
# Plain assertions for the black-box scripts; each prints one line, and
# `finish` ends the script with the verdict.
failures=0
# A cross build's binaries run through the emulator: "${TARGET_RUN[@]}" PROGRAM ARGS.
# shellcheck disable=SC2034 # used by the scripts that source this file
TARGET_RUN=(${PANEL_TARGET_RUN:+"$PANEL_TARGET_RUN"})

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

pass() {
    echo "ok: $*"
}

check() { # what command...
    local what=$1
    shift
    if "$@"; then pass "$what"; else fail "$what"; fi
}

expect_eq() { # actual expected what
    if [ "$1" = "$2" ]; then pass "$3"; else fail "$3: got [$1], expected [$2]"; fi
}

expect_contains() { # haystack needle what
    if [[ "$1" == *"$2"* ]]; then pass "$3"; else fail "$3: [$2] not in [$1]"; fi
}

finish() {
    if [ "$failures" -eq 0 ]; then
        echo "all checks passed"
        exit 0
    fi
    echo "$failures check(s) failed" >&2
    exit 1
}
