#!/bin/bash
# kiosk-browser against Debian's Chromium in kiosk mode, in one sandbox run on
# one virtual display with the same local page: time from launch to the page's
# first pixel and the resident memory of each browser with all its helper
# processes. Prints both ratios (kiosk-browser / chromium); passes or fails
# nothing. Installs Debian's chromium if it is missing.
# Usage: bench/browser.sh BUILD_DIR [ROUNDS]
set -eu
build=$(readlink -f "$1")
rounds=${2:-5}
here=$(dirname "$(readlink -f "$0")")
if ! [ -x /usr/bin/chromium ]; then
    apt-get -o DPkg::Lock::Timeout=600 update -q
    DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -q \
        --no-install-recommends chromium
fi
[ -x "$build/bench/browser/browser-bench" ] || {
    echo "no $build/bench/browser/browser-bench: build the project first" >&2
    exit 1
}
source "$here/sandboxed.sh"
# A private /tmp too, as the browser tests have: Xvfb's lock files name pids.
# shellcheck source=/dev/null # written by CMake into the build folder
source "$build/panel-sandbox.env"
bench_in_sandbox "$build" "$PANEL_WITH_PRIVATE_TMP" "$0" "$build" "$rounds"

/usr/bin/chromium --version
exec "$build/bench/browser/browser-bench" "$build/browser/kiosk-browser" /usr/bin/chromium \
    "$rounds" "$build/bench/browser/screens"
