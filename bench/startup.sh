#!/bin/bash
# Start-up of the interactive settings screen: panel-setup (no switch) against a
# minimal QMainWindow program built the same way, alternately, in one sandbox
# run, both under the offscreen platform. Measures from process start to the
# main window's first paint, less panel-setup's one-second pause for the
# browser, and the peak resident memory. Prints ratios; passes or fails nothing.
# Usage: bench/startup.sh BUILD_DIR [ROUNDS]
set -eu
build=$(readlink -f "$1")
rounds=${2:-15}
here=$(dirname "$(readlink -f "$0")")
source "$here/sandboxed.sh"
bench_in_sandbox "$build" "$0" "$build" "$rounds"

exec "$build/bench/startup/startup-driver" "$build/setup/panel-setup" \
    "$build/bench/startup/startup-minimal" "$build/bench/startup/libstartup-probe.so" "$rounds"
