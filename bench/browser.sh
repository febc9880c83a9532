#!/bin/bash
# kiosk-browser against Debian's cog (WPE WebKit, on weston's X11 back end) and
# Chromium in kiosk mode, in one sandbox run on one virtual display with the
# same local pages (a light one and a heavier one): time from launch to the
# page's first pixel and the memory of each browser with all its helper
# processes. Prints medians and the ratios against cog; passes or fails
# nothing. Installs Debian's chromium, cog and weston if they are missing.
#
# Usage: bench/browser.sh BUILD_DIR [ROUNDS]
#        bench/browser.sh BUILD_DIR --soak MINUTES
#   --soak: kiosk-browser and cog in turn on a page that reloads itself every
#   second and on one that allocates and frees memory, the summed PSS sampled
#   every minute.
set -eu
build=$(readlink -f "$1")
rounds=${2:-5}
minutes=${3:-30}
here=$(dirname "$(readlink -f "$0")")
missing=()
for program in chromium cog weston; do
    [ -x "/usr/bin/$program" ] || missing+=("$program")
done
if [ ${#missing[@]} -gt 0 ]; then
    apt-get -o DPkg::Lock::Timeout=600 update -q
    DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -q \
        --no-install-recommends "${missing[@]}"
fi
[ -x "$build/bench/browser/browser-bench" ] || {
    echo "no $build/bench/browser/browser-bench: build the project first" >&2
    exit 1
}
# shellcheck source=bench/sandboxed.sh
source "$here/sandboxed.sh"
# A private /tmp too, as the browser tests have: Xvfb's lock files name pids.
# shellcheck source=/dev/null # written by CMake into the build folder
source "$build/panel-sandbox.env"
bench_in_sandbox "$build" "$PANEL_WITH_PRIVATE_TMP" "$0" "$@"

/usr/bin/chromium --version
echo "cog $(dpkg-query -W -f='${Version}' cog), weston $(dpkg-query -W -f='${Version}' weston)"
if [ "$rounds" = --soak ]; then
    exec "$build/bench/browser/browser-bench" --soak "$minutes" "$build/browser/kiosk-browser" \
        "$build/bench/browser/screens" /usr/bin/cog
fi
exec "$build/bench/browser/browser-bench" "$build/browser/kiosk-browser" /usr/bin/chromium \
    "$rounds" "$build/bench/browser/screens" /usr/bin/cog
