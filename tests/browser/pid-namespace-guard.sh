#!/bin/sh
# The browser tests end processes that they find in /proc. Inside the sandbox
# but with the sandbox's PID namespace taken for the host's one, or without the
# sandbox's word on the host's namespace, each test binary must refuse to run
# (status 3) before it starts or signals anything.
# Usage: pid-namespace-guard.sh TEST_BINARY...
set -u
"$(dirname "$0")/../sandbox/sandboxguard.sh" || exit 3

failures=0
expect_refusal() { # label command...
    label=$1
    shift
    output=$("$@" 2>&1)
    status=$?
    if [ "$status" = 3 ] && printf '%s' "$output" | grep -q "PID namespace"; then
        echo "PASS: $label"
    else
        echo "FAIL: $label: status $status"
        printf '%s\n' "$output" | tail -5
        failures=$((failures + 1))
    fi
}

own=$(readlink /proc/self/ns/pid)
for test in "$@"; do
    name=$(basename "$test")
    expect_refusal "$name, own namespace taken for the host's" \
        env PANEL_SANDBOX_HOST_PID="$own" ${PANEL_TARGET_RUN:+"$PANEL_TARGET_RUN"} "$test"
    expect_refusal "$name, host namespace unknown" env -u PANEL_SANDBOX_HOST_PID ${PANEL_TARGET_RUN:+"$PANEL_TARGET_RUN"} "$test"
done
# Nothing may have been started: no display, no browser.
for left in Xvfb kiosk-browser; do
    if pgrep -x "$left" > /dev/null; then
        echo "FAIL: a $left was started"
        failures=$((failures + 1))
    fi
done
[ "$failures" = 0 ]
